#include "HttpSession.h"

#include "PageSubmitter.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vts::gate {

namespace {

QByteArray reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

// Compares without leaking through timing where the texts differ.
bool sameSecret(const QByteArray& a, const QByteArray& b) {
    const QByteArray ha = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray hb = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < ha.size(); ++i) {
        diff |= static_cast<unsigned char>(ha[i] ^ hb[i]);
    }
    return diff == 0;
}

}  // namespace

void HttpSession::refuse(const QString& why) { fail(403, why); }

void HttpSession::timedOut() {
    log(QStringLiteral("refused: request not complete in time, disconnected"));
    fail(408, QStringLiteral("request not complete in time"));
}

void HttpSession::respond(int status, const QByteArray& json, const QList<QByteArray>& extra) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    out += "Content-Type: application/json\r\n";
    out += "Content-Length: " + QByteArray::number(json.size()) + "\r\n";
    out += "Connection: close\r\n";
    for (const QByteArray& h : extra) {
        out += h + "\r\n";
    }
    out += "\r\n" + json;
    send(out);
    close();
}

void HttpSession::fail(int status, const QString& message, const QList<QByteArray>& extra) {
    if (status != 408 && status != 403) {
        log(QStringLiteral("refused (%1): %2").arg(status).arg(message));
    }
    respond(status,
            QJsonDocument(QJsonObject{{QStringLiteral("error"), message}})
                    .toJson(QJsonDocument::Compact) +
                '\n',
            extra);
}

void HttpSession::receive(const QByteArray& bytes) {
    if (closed()) {
        return;
    }
    const Limits limits = m_desk.settings().limits;
    m_buffer += bytes;
    if (!m_headerDone) {
        auto end = m_buffer.indexOf("\r\n\r\n");
        int sep = 4;
        if (end < 0) {
            end = m_buffer.indexOf("\n\n");
            sep = 2;
        }
        if (end < 0) {
            if (m_buffer.size() > limits.maxHeader) {
                fail(431,
                     QStringLiteral("request headers larger than %1 bytes").arg(limits.maxHeader));
            }
            return;
        }
        if (end > limits.maxHeader) {
            fail(431, QStringLiteral("request headers larger than %1 bytes").arg(limits.maxHeader));
            return;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
        if (request.size() != 3 || !request[2].startsWith("HTTP/1.")) {
            fail(400, QStringLiteral("not an HTTP/1 request"));
            return;
        }
        m_method = request[0];
        m_target = request[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const auto colon = lines[i].indexOf(':');
            if (colon <= 0) {
                fail(400, QStringLiteral("bad header line"));
                return;
            }
            m_headers.insert(lines[i].left(colon).trimmed().toLower(),
                             lines[i].mid(colon + 1).trimmed());
        }
        m_buffer.remove(0, end + sep);
        m_headerDone = true;
        if (m_headers.contains("transfer-encoding")) {
            fail(411, QStringLiteral("send the body with Content-Length"));
            return;
        }
        bool ok = true;
        m_length = m_headers.contains("content-length")
                       ? m_headers.value("content-length").toLongLong(&ok)
                       : 0;
        if (!ok || m_length < 0) {
            fail(400, QStringLiteral("bad Content-Length"));
            return;
        }
        if (m_length > limits.maxBody) {
            fail(413, QStringLiteral("body larger than %1 bytes").arg(limits.maxBody));
            return;
        }
        if (m_headers.value("expect").toLower() == "100-continue") {
            send("HTTP/1.1 100 Continue\r\n\r\n");
        }
    }
    if (m_buffer.size() > m_length) {
        m_buffer.truncate(m_length);  // one request per connection: extra bytes are dropped
    }
    if (m_buffer.size() == m_length) {
        handle();
    }
}

void HttpSession::handle() {
    const QByteArray path =
        m_target.left(m_target.indexOf('?') < 0 ? m_target.size() : m_target.indexOf('?'));
    if (path == "/api/health") {
        if (m_method != "GET") {
            fail(405, QStringLiteral("use GET"), {"Allow: GET"});
            return;
        }
        health();
    } else if (path == "/api/pages") {
        if (m_method != "POST") {
            fail(405, QStringLiteral("use POST"), {"Allow: POST"});
            return;
        }
        pages();
    } else {
        fail(404, QStringLiteral("no such resource; use POST /api/pages or GET /api/health"));
    }
}

void HttpSession::health() {
    QString error;
    const QString folder = m_desk.queueFolder(&error);
    const int recipients = static_cast<int>(m_desk.settings().recipients.size());
    QJsonObject o{{QStringLiteral("status"),
                   folder.isEmpty() ? QStringLiteral("error") : QStringLiteral("ok")},
                  {QStringLiteral("recipients"), recipients}};
    if (!folder.isEmpty()) {
        o.insert(QStringLiteral("queue"), QStringLiteral("ok"));
    } else {
        o.insert(QStringLiteral("queue"), error);
    }
    respond(folder.isEmpty() ? 503 : 200, QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

void HttpSession::pages() {
    const GatewayConfig& c = m_desk.settings();
    const QByteArray auth = m_headers.value("authorization");
    const QByteArray given = auth.startsWith("Bearer ") ? auth.mid(7).trimmed() : QByteArray();
    if (c.token.isEmpty() || given.isEmpty() || !sameSecret(given, c.token.toUtf8())) {
        fail(401,
             c.token.isEmpty() ? QStringLiteral("no token is set in vtsgate.ini; pages are refused")
             : given.isEmpty() ? QStringLiteral("missing bearer token")
                               : QStringLiteral("wrong bearer token"),
             {"WWW-Authenticate: Bearer realm=\"vtsgate\""});
        return;
    }
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(m_buffer, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        fail(400, pe.error != QJsonParseError::NoError
                      ? QStringLiteral("bad JSON: %1").arg(pe.errorString())
                      : QStringLiteral("the body must be a JSON object"));
        return;
    }
    const QJsonObject o = doc.object();
    PageOrder order;
    order.protocol = protocol();
    order.peer = m_peer;
    const QJsonValue to = o.value(QStringLiteral("to"));
    if (to.isString()) {
        order.to << to.toString();
    } else if (to.isArray()) {
        for (const auto& v : to.toArray()) {
            if (!v.isString()) {
                fail(400, QStringLiteral("\"to\" must hold names"));
                return;
            }
            order.to << v.toString();
        }
    }
    if (order.to.isEmpty()) {
        fail(400, QStringLiteral("\"to\" must be a name or a list of names"));
        return;
    }
    if (order.to.size() > c.limits.maxRecipients) {
        fail(400, QStringLiteral("more than %1 recipients").arg(c.limits.maxRecipients));
        return;
    }
    const QJsonValue text = o.value(QStringLiteral("text"));
    if (!text.isString() || text.toString().trimmed().isEmpty()) {
        fail(400, QStringLiteral("\"text\" must be a non-empty string"));
        return;
    }
    const QJsonValue from = o.value(QStringLiteral("from"));
    if (!from.isUndefined() && !from.isString()) {
        fail(400, QStringLiteral("\"from\" must be a string"));
        return;
    }
    order.text = text.toString();
    order.sender = from.toString();
    const SubmitResult r = m_desk.submit(order);
    switch (r.status) {
        case SubmitResult::Status::Ok: {
            QJsonArray files;
            for (const QString& f : r.files) {
                files.append(f);
            }
            respond(201, QJsonDocument(QJsonObject{{QStringLiteral("files"), files}})
                                 .toJson(QJsonDocument::Compact) +
                             '\n');
            break;
        }
        case SubmitResult::Status::UnknownRecipient:
        case SubmitResult::Status::BadText:
            respond(400, QJsonDocument(QJsonObject{{QStringLiteral("error"), r.message}})
                                 .toJson(QJsonDocument::Compact) +
                             '\n');
            break;
        case SubmitResult::Status::RateLimited:
            respond(429,
                    QJsonDocument(QJsonObject{{QStringLiteral("error"), r.message}})
                            .toJson(QJsonDocument::Compact) +
                        '\n',
                    {"Retry-After: " + QByteArray::number(r.retryAfter)});
            break;
        case SubmitResult::Status::QueueUnavailable:
            respond(503,
                    QJsonDocument(QJsonObject{{QStringLiteral("error"),
                                               QStringLiteral("page not queued, try again later")}})
                            .toJson(QJsonDocument::Compact) +
                        '\n');
            break;
    }
}

}  // namespace vts::gate
