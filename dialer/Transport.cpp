#include "Transport.h"

#include "Dialer.h"
#include "GsmTransport.h"
#include "ModemTransport.h"
#include "SnppTransport.h"
#include "TapTcpTransport.h"
#include "TcpLine.h"
#include "TraceLog.h"
#include "WctpTransport.h"

#include <algorithm>

namespace vts {

namespace {

// "HOST:PORT" with an optional [IPv6] host.
bool splitHostPort(const QString& text, QString* host, quint16* port) {
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
    *host = h;
    *port = static_cast<quint16>(p);
    return true;
}

}  // namespace

std::optional<PortTarget> PortTarget::parse(const QString& entry, QString* error) {
    PortTarget t;
    const QString e = entry.trimmed();
    auto fail = [&](const QString& why) -> std::optional<PortTarget> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    const qsizetype colon = e.indexOf(u':');
    const QString scheme = colon > 0 ? e.left(colon).toLower() : QString();
    const QString rest = colon > 0 ? e.mid(colon + 1).trimmed() : QString();
    if (scheme == u"tcp" || scheme == u"snpp") {
        t.kind = scheme == u"tcp" ? Kind::TapTcp : Kind::Snpp;
        if (!splitHostPort(rest, &t.host, &t.port)) {
            return fail(QStringLiteral("\"%1\" is not %2:HOST:PORT").arg(e, scheme));
        }
        return t;
    }
    if (scheme == u"wctp") {
        t.kind = Kind::Wctp;
        t.url = rest;
        const QString lower = rest.toLower();
        if (!(lower.startsWith(u"http://") || lower.startsWith(u"https://")) || rest.size() < 9 ||
            rest.contains(u' ')) {
            return fail(QStringLiteral("\"%1\" is not wctp:http(s)://...").arg(e));
        }
        return t;
    }
    if (scheme == u"gsm") {
        t.kind = Kind::Gsm;
        t.device = rest;
        if (rest.isEmpty()) {
            return fail(QStringLiteral("\"%1\" names no device").arg(e));
        }
        return t;
    }
    t.device = e;
    return t;
}

QString PortTarget::describe() const {
    switch (kind) {
        case Kind::Modem:
            return QStringLiteral("modem on %1").arg(device);
        case Kind::TapTcp:
            return QStringLiteral("paging terminal at %1 port %2").arg(host).arg(port);
        case Kind::Snpp:
            return QStringLiteral("SNPP server at %1 port %2").arg(host).arg(port);
        case Kind::Wctp:
            return QStringLiteral("WCTP endpoint %1").arg(url);
        case Kind::Gsm:
            return QStringLiteral("GSM modem on %1").arg(device);
    }
    return {};
}

std::unique_ptr<Transport> Transport::create(const PortTarget& target,
                                             const DialerOptions& options) {
    switch (target.kind) {
        case PortTarget::Kind::TapTcp:
            return std::make_unique<TapTcpTransport>(target, options);
        case PortTarget::Kind::Snpp:
            return std::make_unique<SnppTransport>(target, options);
        case PortTarget::Kind::Wctp:
            return std::make_unique<WctpTransport>(target, options);
        case PortTarget::Kind::Gsm:
            return std::make_unique<GsmTransport>(target, options);
        case PortTarget::Kind::Modem:
            break;
    }
    return std::make_unique<ModemTransport>(target, options);
}

bool Transport::connectTcp(TcpLine& line, const PortTarget& target, qsizetype pages, double timeout,
                           TraceLog& trace) {
    trace.note(QStringLiteral("connecting to %1 port %2 for %3 page(s)")
                   .arg(target.host)
                   .arg(target.port)
                   .arg(pages));
    QString error;
    if (!line.connect(target.host, target.port, deadlineIn(timeout), &error)) {
        setReason(error);
        trace.note(error);
        return false;
    }
    return true;
}

double callTimeout(const PortRecord& call) {
    return call.timeout <= 0 ? 60.0 : std::min<double>(call.timeout, 300.0);
}

TapSessionEnd deliverTapSession(Channel& channel, const TapTimings& timings,
                                const QByteArray& password, const QList<Page*>& pages,
                                Batch& batch) {
    TapClient client(channel, timings);
    if (client.logOn(password) == TapClient::LogOnResult::Accepted) {
        for (Page* page : pages) {
            if (!client.callUp()) {
                break;
            }
            switch (client.sendPage(page->blocks)) {
                case TapClient::PageResult::Accepted:
                    batch.setStatus(*page, PortStatus::Sent, {});
                    break;
                case TapClient::PageResult::Rejected:
                    batch.setStatus(*page, PortStatus::Failed, client.reason());
                    break;
                case TapClient::PageResult::NotSent:
                    break;
            }
        }
        client.logOff();
        if (client.withdrawn()) {
            for (Page* page : pages) {
                if (page->status == static_cast<std::int16_t>(PortStatus::Sent)) {
                    batch.setStatus(*page, PortStatus::Failed,
                                    QStringLiteral("rejected by the terminal after log-off"));
                }
            }
        }
    }
    return {client.reason(), client.carrierLost()};
}

}  // namespace vts
