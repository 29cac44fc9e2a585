#include "WebConfig.h"

#include "IniFile.h"

namespace vts::web {

namespace {

// A whole number in [low, high] from `text`; nullopt otherwise.
std::optional<int> bounded(const QString& text, int low, int high) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < low || n > high) return std::nullopt;
    return n;
}

}  // namespace

std::optional<WebConfig> WebConfig::parse(const QString& text, QString* error) {
    auto fail = [error](const QString& why) -> std::optional<WebConfig> {
        if (error) *error = why;
        return std::nullopt;
    };
    const IniFile ini = IniFile::parse(text);
    WebConfig c;
    if (const auto listen = ini.value(QStringLiteral("http"), QStringLiteral("listen"));
        listen && !listen->trimmed().isEmpty()) {
        const QString v = listen->trimmed();
        const qsizetype colon = v.lastIndexOf(u':');
        QString host = colon < 0 ? v : v.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
        const auto port = bounded(colon < 0 ? QString() : v.mid(colon + 1), 1, 65535);
        QHostAddress address;
        if (!port || !address.setAddress(host)) {
            return fail(QStringLiteral("[http] listen = %1 is not ADDRESS:PORT").arg(v));
        }
        c.address = address;
        c.port = static_cast<quint16>(*port);
    }
    c.cert = ini.value(QStringLiteral("tls"), QStringLiteral("cert")).value_or(QString()).trimmed();
    c.key = ini.value(QStringLiteral("tls"), QStringLiteral("key")).value_or(QString()).trimmed();
    if (c.cert.isEmpty() != c.key.isEmpty()) {
        return fail(QStringLiteral("[tls] needs both cert and key"));
    }
    const struct {
        const char* section;
        const char* key;
        int* target;
        int low;
        int high;
    } numbers[] = {
        {"session", "idle", &c.idleSeconds, 1, 86400},
        {"login", "attempts", &c.attempts, 1, 1000},
        {"login", "window", &c.windowSeconds, 10, 86400},
        {"login", "lockout", &c.lockoutSeconds, 10, 86400},
    };
    for (const auto& n : numbers) {
        const auto v = ini.value(QString::fromLatin1(n.section), QString::fromLatin1(n.key));
        if (!v || v->trimmed().isEmpty()) continue;
        const auto value = bounded(*v, n.low, n.high);
        if (!value) {
            return fail(
                QStringLiteral("[%1] %2 = %3 is not a number from %4 to %5")
                    .arg(QString::fromLatin1(n.section), QString::fromLatin1(n.key), v->trimmed())
                    .arg(n.low)
                    .arg(n.high));
        }
        *n.target = *value;
    }
    if (!c.tls() && !c.address.isLoopback()) {
        return fail(
            QStringLiteral("[http] listen = %1 is beyond loopback; set [tls] cert and key first")
                .arg(c.address.toString()));
    }
    return c;
}

}  // namespace vts::web
