#include "PortKinds.h"

#include "Dialer.h"
#include "GsmTransport.h"
#include "IniFile.h"
#include "ModemTransport.h"
#include "SmppTransport.h"
#include "SmtpTransport.h"
#include "SnppTransport.h"
#include "TapTcpTransport.h"
#include "WctpTransport.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace vts {

namespace {

using Kind = PortTarget::Kind;

// "HOST:PORT" with an optional [IPv6] host.
bool hostPort(const QString& text, PortTarget& t) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) {
        return false;
    }
    QString h = text.left(colon).trimmed();
    if (h.startsWith(u'[') && h.endsWith(u']')) {
        h = h.mid(1, h.size() - 2);
    }
    bool ok = false;
    const int p = text.mid(colon + 1).trimmed().toInt(&ok);
    if (!ok || p < 1 || p > 65535 || h.isEmpty() || h.contains(u' ')) {
        return false;
    }
    t.host = h;
    t.port = static_cast<quint16>(p);
    return true;
}

bool device(const QString& rest, PortTarget& t) {
    t.device = rest;
    return !rest.isEmpty();
}

bool url(const QString& rest, PortTarget& t) {
    t.url = rest;
    const QString lower = rest.toLower();
    return (lower.startsWith(u"http://") || lower.startsWith(u"https://")) && rest.size() >= 9 &&
           !rest.contains(u' ');
}

// A kind's own TLS keys (cafile, capath, certfile, keyfile).
DialerOptions::Tls tlsKeys(const IniFile& ini, const QString& section) {
    const auto text = [&](const char* key) {
        return ini.value(section, QLatin1String(key)).value_or(QString()).trimmed();
    };
    return {text("cafile"), text("capath"), text("certfile"), text("keyfile")};
}

bool onOff(const IniFile& ini, const QString& section, const char* key, bool fallback) {
    const auto v = ini.value(section, QLatin1String(key));
    if (!v) {
        return fallback;
    }
    const QString t = v->trimmed().toLower();
    return t == u"on" || t == u"yes" || t == u"true" || t == u"1";
}

void readSmtp(const IniFile& ini, DialerOptions& o) {
    const QString s = QStringLiteral("smtp");
    const auto text = [&](const char* key, const QString& fallback) {
        return ini.value(s, QLatin1String(key)).value_or(fallback).trimmed();
    };
    o.smtp.to = text("to", o.smtp.to);
    o.smtp.from = text("from", o.smtp.from);
    o.smtp.subject = text("subject", o.smtp.subject).left(200);
    o.smtp.starttls = onOff(ini, s, "starttls", o.smtp.starttls);
    o.smtp.user = text("user", {});
    o.smtp.password = ini.value(s, QStringLiteral("password")).value_or(QString());
    o.smtp.tls = tlsKeys(ini, s);
}

void readSmpp(const IniFile& ini, DialerOptions& o) {
    const QString s = QStringLiteral("smpp");
    // SMPP's C-octet strings have fixed limits: system_id 16, password 9,
    // system_type 13, addresses 21 (terminator included).
    const auto text = [&](const char* key, int max) {
        return ini.value(s, QLatin1String(key)).value_or(QString()).trimmed().left(max);
    };
    const auto number = [&](const char* key, int fallback, int lo, int hi) {
        return std::clamp(static_cast<int>(ini.number(s, QLatin1String(key), fallback)), lo, hi);
    };
    o.smpp.systemId = text("system_id", 15);
    o.smpp.password = ini.value(s, QStringLiteral("password")).value_or(QString()).left(8);
    o.smpp.systemType = text("system_type", 12);
    o.smpp.sourceAddr = text("source_addr", 20);
    o.smpp.sourceTon = number("source_ton", o.smpp.sourceTon, 0, 6);
    o.smpp.sourceNpi = number("source_npi", o.smpp.sourceNpi, 0, 18);
    o.smpp.destTon = number("dest_ton", o.smpp.destTon, 0, 6);
    o.smpp.destNpi = number("dest_npi", o.smpp.destNpi, 0, 18);
    o.smpp.window = number("window", o.smpp.window, 1, 100);
    o.smpp.registeredDelivery = onOff(ini, s, "registered_delivery", o.smpp.registeredDelivery);
    o.smpp.enquireLink =
        std::clamp(ini.number(s, QStringLiteral("enquire_link"), o.smpp.enquireLink), 1.0, 600.0);
    o.smpp.tls = tlsKeys(ini, s);
}

QString smscAt(const PortTarget& t) {
    return QStringLiteral("SMS centre at %1 port %2").arg(t.host).arg(t.port);
}

template <class T>
std::unique_ptr<Transport> make(const PortTarget& target, const DialerOptions& options) {
    return std::make_unique<T>(target, options);
}

const std::array<PortKind, static_cast<std::size_t>(Kind::Count)> kKinds{{
    {Kind::Modem, "", "/dev/ttyX", "[modem] guard, devicewait, hangupreply",
     "a Hayes modem on a serial device, the paging protocol after CONNECT",
     "\"%1\" names no device", device,
     [](const PortTarget& t) { return QStringLiteral("modem on %1").arg(t.device); }, nullptr,
     make<ModemTransport>},
    {Kind::TapTcp, "tcp", "tcp:HOST:PORT", "", "a paging terminal over TCP",
     "\"%1\" is not tcp:HOST:PORT", hostPort,
     [](const PortTarget& t) {
         return QStringLiteral("paging terminal at %1 port %2").arg(t.host).arg(t.port);
     },
     nullptr, make<TapTcpTransport>},
    {Kind::Snpp, "snpp", "snpp:HOST:PORT", "[snpp] messmax", "an SNPP server",
     "\"%1\" is not snpp:HOST:PORT", hostPort,
     [](const PortTarget& t) {
         return QStringLiteral("SNPP server at %1 port %2").arg(t.host).arg(t.port);
     },
     [](const IniFile& ini, DialerOptions& o) {
         o.snppMessMax =
             std::clamp(static_cast<int>(ini.number(QStringLiteral("snpp"),
                                                    QStringLiteral("messmax"), o.snppMessMax)),
                        1, 10000);
     },
     make<SnppTransport>},
    {Kind::Wctp, "wctp", "wctp:URL", "[wctp] originator, cafile, capath, certfile, keyfile",
     "a WCTP endpoint over HTTP(S)", "\"%1\" is not wctp:http(s)://...", url,
     [](const PortTarget& t) { return QStringLiteral("WCTP endpoint %1").arg(t.url); },
     [](const IniFile& ini, DialerOptions& o) {
         const QString wctp = QStringLiteral("wctp");
         const auto text = [&](const char* key, const QString& fallback) {
             return ini.value(wctp, QLatin1String(key)).value_or(fallback).trimmed();
         };
         o.wctpOriginator = text("originator", o.wctpOriginator);
         o.tls.caFile = text("cafile", {});
         o.tls.caPath = text("capath", {});
         o.tls.certFile = text("certfile", {});
         o.tls.keyFile = text("keyfile", {});
     },
     make<WctpTransport>},
    {Kind::Gsm, "gsm", "gsm:DEVICE", "[gsm] pin, receipts, receipt_wait", "a GSM modem sending SMS",
     "\"%1\" names no device", device,
     [](const PortTarget& t) { return QStringLiteral("GSM modem on %1").arg(t.device); },
     [](const IniFile& ini, DialerOptions& o) {
         const QString gsm = QStringLiteral("gsm");
         o.gsmPin = ini.value(gsm, QStringLiteral("pin")).value_or(QString()).trimmed();
         o.gsmReceipts = onOff(ini, gsm, "receipts", o.gsmReceipts);
         o.gsmReceiptWait = std::clamp(
             ini.number(gsm, QStringLiteral("receipt_wait"), o.gsmReceiptWait), 0.0, 120.0);
     },
     make<GsmTransport>},
    {Kind::Smtp, "smtp", "smtp:HOST:PORT",
     "[smtp] to, from, subject, starttls, user, password, cafile, capath, certfile, keyfile",
     "a mail server taking pages as e-mail", "\"%1\" is not smtp:HOST:PORT", hostPort,
     [](const PortTarget& t) {
         return QStringLiteral("mail server at %1 port %2").arg(t.host).arg(t.port);
     },
     readSmtp, make<SmtpTransport>},
    {Kind::Smpp, "smpp", "smpp:HOST:PORT",
     "[smpp] system_id, password, system_type, source_addr, source_ton, source_npi, dest_ton, "
     "dest_npi, window, registered_delivery, enquire_link",
     "an SMS centre over SMPP 3.4", "\"%1\" is not smpp:HOST:PORT", hostPort, smscAt, readSmpp,
     make<SmppTransport>},
    {Kind::Smpps, "smpps", "smpps:HOST:PORT",
     "[smpp] as smpp, and cafile, capath, certfile, keyfile", "an SMS centre over SMPP 3.4 in TLS",
     "\"%1\" is not smpps:HOST:PORT", hostPort,
     [](const PortTarget& t) { return smscAt(t) + QStringLiteral(" (TLS)"); }, nullptr,
     make<SmppTransport>},
}};

// A word before the first colon, as a kind's scheme is written.
bool schemeLike(const QString& word) {
    return !word.isEmpty() && std::all_of(word.begin(), word.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-';
    });
}

}  // namespace

std::span<const PortKind> portKinds() { return kKinds; }

const PortKind& portKind(PortTarget::Kind kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(),
                         [kind](const PortKind& k) { return k.kind == kind; });
}

std::optional<PortTarget> PortTarget::parse(const QString& entry, QString* error) {
    const QString e = entry.trimmed();
    const qsizetype colon = e.indexOf(u':');
    const QString scheme = colon > 0 ? e.left(colon).toLower() : QString();
    auto read = [&](const PortKind& k, const QString& rest) -> std::optional<PortTarget> {
        PortTarget t;
        t.kind = k.kind;
        if (k.address(rest, t)) {
            return t;
        }
        if (error) {
            *error = QString::fromLatin1(k.malformed).arg(e);
        }
        return std::nullopt;
    };
    QStringList schemes;
    for (const PortKind& k : kKinds) {
        if (*k.scheme == '\0') {
            continue;
        }
        if (scheme == QLatin1String(k.scheme)) {
            return read(k, e.mid(colon + 1).trimmed());
        }
        schemes << QString::fromLatin1(k.form);
    }
    // A word and a colon is a kind misspelt, not a device path.
    if (schemeLike(scheme)) {
        if (error) {
            *error = QStringLiteral("\"%1\" names no port kind (a device path, %2)")
                         .arg(e, schemes.join(QStringLiteral(", ")));
        }
        return std::nullopt;
    }
    return read(portKind(Kind::Modem), e);
}

QString PortTarget::describe() const { return portKind(kind).describe(*this); }

}  // namespace vts
