#include "GatewayConfig.h"

#include "Accounts.h"
#include "IntakeProtocols.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace vts::gate {

namespace {

constexpr qint64 kMaxIniBytes = qint64{1024} * 1024;

// "127.0.0.1:2525", "[::1]:2525", "0.0.0.0:25" or a bare port (loopback).
std::optional<Listen> parseListen(const QString& v) {
    Listen l;
    l.enabled = true;
    QString host;
    QString port = v;
    if (v.startsWith(QLatin1Char('['))) {
        const auto close = v.indexOf(QStringLiteral("]:"));
        if (close < 0) {
            return std::nullopt;
        }
        host = v.mid(1, close - 1);
        port = v.mid(close + 2);
    } else if (v.count(QLatin1Char(':')) == 1) {
        host = v.section(QLatin1Char(':'), 0, 0);
        port = v.section(QLatin1Char(':'), 1);
    }
    bool ok = false;
    const uint n = port.toUInt(&ok);
    if (!ok || n > 65535) {
        return std::nullopt;
    }
    l.port = static_cast<quint16>(n);
    if (!host.isEmpty()) {
        if (host == QLatin1String("localhost")) {
            host = QStringLiteral("127.0.0.1");
        }
        l.address = QHostAddress(host);
        if (l.address.isNull()) {
            return std::nullopt;
        }
    }
    return l;
}

// A line without its comment: ";" at the start or after a blank begins one
// (a value never needs "; " inside it).
QString withoutComment(const QString& line) {
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char(';') && (i == 0 || line[i - 1].isSpace())) {
            return line.left(i);
        }
    }
    return line;
}

std::optional<bool> parseSwitch(const QString& v) {
    const QString s = v.toLower();
    if (s == QLatin1String("on") || s == QLatin1String("yes") || s == QLatin1String("true")) {
        return true;
    }
    if (s == QLatin1String("off") || s == QLatin1String("no") || s == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

bool validName(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9._-]{1,30}$"));
    return re.match(name).hasMatch();
}

bool parseLimit(Limits& l, const QString& key, const QString& value) {
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    if (!ok || n < 0 || n > 1'000'000'000) {
        return false;
    }
    const int i = static_cast<int>(n);
    if (key == QLatin1String("max_line")) {
        l.maxLine = std::max(i, 80);
    } else if (key == QLatin1String("max_text")) {
        l.maxText = std::max(i, 1);
    } else if (key == QLatin1String("max_mail")) {
        l.maxMail = std::max<qint64>(n, 1024);
    } else if (key == QLatin1String("max_body")) {
        l.maxBody = std::max<qint64>(n, 256);
    } else if (key == QLatin1String("max_header")) {
        l.maxHeader = std::max(i, 1024);
    } else if (key == QLatin1String("max_recipients")) {
        l.maxRecipients = std::max(i, 1);
    } else if (key == QLatin1String("idle_timeout")) {
        l.idleSeconds = std::max(i, 1);
    } else if (key == QLatin1String("session_timeout")) {
        l.sessionSeconds = std::max(i, 1);
    } else if (key == QLatin1String("pages_per_minute")) {
        l.pagesPerMinute = i;
    } else if (key == QLatin1String("max_connections")) {
        l.maxConnections = std::max(i, 1);
    } else if (key == QLatin1String("max_per_address")) {
        l.maxPerAddress = std::max(i, 1);
    } else if (key == QLatin1String("smtp_idle_timeout")) {
        l.smtpIdleSeconds = std::max(i, 1);
    } else {
        return false;
    }
    return true;
}

// Drops groups that name a group or recipient that does not exist, share a
// recipient's name, or contain themselves (directly or through another
// group), each with a warning.
void checkGroups(GatewayConfig& c) {
    bool changed = true;
    while (changed) {
        changed = false;
        for (auto it = c.groups.begin(); it != c.groups.end(); ++it) {
            QString why;
            if (c.recipients.contains(it.key())) {
                why = QStringLiteral("a recipient has that name");
            }
            for (const QString& m : it.value()) {
                if (why.isEmpty() && !c.known(m)) {
                    why = QStringLiteral("%1 is neither a recipient nor a group").arg(m);
                }
            }
            // Depth-first through member groups, looking for the group itself.
            QStringList todo = it.value();
            QSet<QString> seen;
            while (why.isEmpty() && !todo.isEmpty()) {
                const QString m = todo.takeLast().toUpper();
                if (m == it.key()) {
                    why = QStringLiteral("it contains itself");
                } else if (!seen.contains(m) && c.groups.contains(m)) {
                    seen.insert(m);
                    todo += c.groups.value(m);
                }
            }
            if (!why.isEmpty()) {
                c.warnings << QStringLiteral("group %1 skipped: %2").arg(it.key(), why);
                c.groups.erase(it);
                changed = true;
                break;
            }
        }
    }
}

}  // namespace

QList<Recipient> GatewayConfig::expand(const QString& name) const {
    QList<Recipient> out;
    QSet<QString> seen;
    QStringList todo{name.trimmed().toUpper()};
    while (!todo.isEmpty()) {
        const QString n = todo.takeFirst().toUpper();
        if (seen.contains(n)) {
            continue;
        }
        seen.insert(n);
        if (const Recipient* r = find(n)) {
            out << *r;
        } else if (groups.contains(n)) {
            todo = groups.value(n) + todo;  // members in the order written
        }
    }
    return out;
}

bool GatewayConfig::mayPage(const QString& user, const QString& name) const {
    const auto it = access.constFind(user.toUpper());
    if (user.isEmpty() || it == access.constEnd()) {
        return true;
    }
    return it->contains(name.trimmed(), Qt::CaseInsensitive);
}

const Recipient* GatewayConfig::find(const QString& name) const {
    const auto it = recipients.constFind(name.trimmed().toUpper());
    return it == recipients.constEnd() ? nullptr : &*it;
}

bool GatewayConfig::allowed(const QHostAddress& peer) const {
    QHostAddress p = peer;
    bool v4 = false;
    const quint32 mapped = p.toIPv4Address(&v4);
    if (v4) {
        p = QHostAddress(mapped);  // "::ffff:127.0.0.1" is 127.0.0.1
    }
    for (const auto& net : allow) {
        if (p.isInSubnet(net)) {
            return true;
        }
    }
    return false;
}

std::optional<GatewayConfig> GatewayConfig::parse(const QString& text, QString* error) {
    GatewayConfig c;
    auto fail = [error](int line, const QString& why) {
        if (error) {
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        }
        return std::nullopt;
    };
    QString section;
    bool allowSeen = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool smtpIdleSeen = false;
    for (int i = 0; i < lines.size(); ++i) {
        const int no = i + 1;
        const QString line = withoutComment(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            if (const IntakeProtocol* p = intakeProtocolOf(section)) {
                (c.*p->listen).enabled = true;
            }
            continue;
        }
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            if (section == QLatin1String("recipients")) {
                c.warnings << QStringLiteral("line %1: no '=' in recipient line, skipped").arg(no);
                continue;
            }
            return fail(no, QStringLiteral("expected key = value"));
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        const QString k = key.toLower();
        if (section == QLatin1String("recipients")) {
            const QStringList parts = value.split(QLatin1Char(','));
            Recipient r;
            r.name = key;
            r.phone = parts.value(0).trimmed();
            r.pin = parts.value(1).trimmed();
            bool ok = true;
            if (parts.size() > 2) {
                r.maxChars = parts[2].trimmed().toInt(&ok);
            }
            QString why;
            static const QRegularExpression number(
                QStringLiteral("^[0-9*#+(). -]*[0-9][0-9*#+(). -]*$"));
            static const QRegularExpression pin(QStringLiteral("^[0-9A-Za-z]+$"));
            if (!validName(key)) {
                why = QStringLiteral("name must be 1 to 30 letters, digits, '.', '_' or '-'");
            } else if (parts.size() < 2 || parts.size() > 3 || r.phone.isEmpty() ||
                       r.pin.isEmpty()) {
                why = QStringLiteral("expected: number, PIN [, maximum characters]");
            } else if (r.phone.size() > 30 || r.pin.size() > 20) {
                why = QStringLiteral("number longer than 30 or PIN longer than 20 characters");
            } else if (!number.match(r.phone).hasMatch()) {
                why = QStringLiteral("%1 is not a telephone number").arg(r.phone);
            } else if (!pin.match(r.pin).hasMatch()) {
                why = QStringLiteral("PIN %1 is not letters and digits").arg(r.pin);
            } else if (!ok || r.maxChars < 0 || r.maxChars > 32767) {
                why = QStringLiteral("maximum characters must be 0 to 32767");
            } else if (c.recipients.contains(key.toUpper())) {
                why = QStringLiteral("%1 is named twice").arg(key);
            }
            if (!why.isEmpty()) {
                c.warnings
                    << QStringLiteral("line %1: recipient %2 skipped: %3").arg(no).arg(key, why);
                continue;
            }
            c.recipients.insert(key.toUpper(), r);
            continue;
        }
        if (section == QLatin1String("users") || section == QLatin1String("tokens")) {
            if (!Accounts::isHash(value)) {
                c.warnings << QStringLiteral(
                                  "line %1: %2 skipped: not a hash made by vtsgate "
                                  "--hash-password")
                                  .arg(no)
                                  .arg(key);
                continue;
            }
            (section == QLatin1String("users") ? c.users : c.tokens).insert(key.toUpper(), value);
            continue;
        }
        if (section == QLatin1String("access") || section == QLatin1String("groups")) {
            QStringList names;
            for (const QString& n : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                names << n.trimmed();
            }
            if (!validName(key)) {
                c.warnings << QStringLiteral("line %1: %2 skipped: not a name").arg(no).arg(key);
                continue;
            }
            (section == QLatin1String("access") ? c.access : c.groups).insert(key.toUpper(), names);
            continue;
        }
        bool known = true;
        const IntakeProtocol* protocol = intakeProtocolOf(section);
        if (k == QLatin1String("listen") && protocol) {
            const auto l = parseListen(value);
            if (!l) {
                return fail(no, QStringLiteral("listen takes ADDRESS:PORT or PORT"));
            }
            Listen& listen = c.*protocol->listen;
            listen.address = l->address;
            listen.port = l->port;
        } else if (section == QLatin1String("smtp") && k == QLatin1String("domain")) {
            c.domain = value.toLower();
        } else if (k == QLatin1String("tls") && protocol && section != QLatin1String("smtp")) {
            const auto on = parseSwitch(value);
            if (!on) {
                return fail(no, QStringLiteral("tls takes on or off"));
            }
            (c.*protocol->listen).tls = *on;
        } else if (k == QLatin1String("auth") &&
                   (section == QLatin1String("smtp") || section == QLatin1String("snpp"))) {
            const QString v = value.toLower();
            if (v != QLatin1String("required") && v != QLatin1String("off")) {
                return fail(no, QStringLiteral("auth takes required or off"));
            }
            (section == QLatin1String("smtp") ? c.smtpAuth : c.snppAuth) =
                v == QLatin1String("required");
        } else if (section == QLatin1String("smtp") && k == QLatin1String("starttls")) {
            const auto on = parseSwitch(value);
            if (!on) {
                return fail(no, QStringLiteral("starttls takes on or off"));
            }
            c.starttls = *on;
        } else if (section == QLatin1String("tls") && k == QLatin1String("cert")) {
            c.tlsCert = value;
        } else if (section == QLatin1String("tls") && k == QLatin1String("key")) {
            c.tlsKey = value;
        } else if (section == QLatin1String("smtp") && k == QLatin1String("postmaster")) {
            c.postmaster = value;
        } else if (section == QLatin1String("http") && k == QLatin1String("token")) {
            c.token = value;
        } else if (section == QLatin1String("gateway") && k == QLatin1String("computer")) {
            c.computer = value;
        } else if (section == QLatin1String("gateway") && k == QLatin1String("allow")) {
            allowSeen = true;
            for (const QString& item : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                QString net = item.trimmed();
                if (!net.contains(QLatin1Char('/'))) {
                    net += net.contains(QLatin1Char(':')) ? QStringLiteral("/128")
                                                          : QStringLiteral("/32");
                }
                const auto parsed = QHostAddress::parseSubnet(net);
                if (parsed.first.isNull()) {
                    return fail(no, QStringLiteral("not a network: %1").arg(item.trimmed()));
                }
                c.allow << parsed;
            }
        } else if (section == QLatin1String("limits")) {
            smtpIdleSeen = smtpIdleSeen || k == QLatin1String("smtp_idle_timeout");
            if (!parseLimit(c.limits, k, value)) {
                return fail(no, QStringLiteral("unknown limit or bad number: %1").arg(key));
            }
        } else {
            known = false;
        }
        if (!known) {
            return fail(no, QStringLiteral("unknown setting %1 in [%2]").arg(key, section));
        }
    }
    if (!allowSeen) {
        c.allow << QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))
                << QHostAddress::parseSubnet(QStringLiteral("::1/128"));
    }
    if (!smtpIdleSeen) {
        // Five minutes, as RFC 5321 recommends, unless idle_timeout is
        // longer still.
        c.limits.smtpIdleSeconds = std::max(300, c.limits.idleSeconds);
    }
    if (!c.postmaster.isEmpty() && !c.find(c.postmaster)) {
        c.warnings << QStringLiteral(
                          "postmaster %1 is not a recipient; mail to postmaster is "
                          "logged, not paged")
                          .arg(c.postmaster);
        c.postmaster.clear();
    }
    checkGroups(c);
    if (c.anyTls() && (c.tlsCert.isEmpty() || c.tlsKey.isEmpty())) {
        return fail(0, QStringLiteral("TLS needs [tls] cert = FILE and key = FILE"));
    }
    if (c.smtp.enabled && c.domain.isEmpty()) {
        return fail(0, QStringLiteral("[smtp] needs domain = the part after @"));
    }
    return c;
}

bool ConfigSource::load(QString* error) {
    const QFileInfo fi(m_path);
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(m_path);
        return false;
    }
    if (f.size() > kMaxIniBytes) {
        *error = QStringLiteral("%1 is larger than 1 MB").arg(m_path);
        return false;
    }
    QString why;
    auto parsed = GatewayConfig::parse(QString::fromUtf8(f.read(kMaxIniBytes)), &why);
    if (!parsed) {
        *error = QStringLiteral("%1: %2").arg(m_path, why);
        return false;
    }
    m_config = std::move(*parsed);
    m_stamp = fi.lastModified();
    m_size = fi.size();
    return true;
}

const GatewayConfig& ConfigSource::current(QString* message) {
    const QFileInfo fi(m_path);
    if (fi.exists() && (fi.lastModified() != m_stamp || fi.size() != m_size)) {
        GatewayConfig previous = m_config;
        QString error;
        if (load(&error)) {
            if (message) {
                *message = QStringLiteral("reloaded %1: %2 recipients")
                               .arg(m_path)
                               .arg(m_config.recipients.size());
                for (const QString& w : m_config.warnings) {
                    *message += QStringLiteral("; ") + w;
                }
            }
        } else {
            // Keep the last good contents; note the stamp so the refusal is
            // logged once per change, not at every page.
            m_config = std::move(previous);
            m_stamp = fi.lastModified();
            m_size = fi.size();
            if (message) {
                *message =
                    QStringLiteral("changed file refused, previous settings kept: %1").arg(error);
            }
        }
    }
    return m_config;
}

}  // namespace vts::gate
