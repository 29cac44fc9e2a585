#include "HttpSession.h"

#include "EventLoop.h"
#include "PageSubmitter.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cctype>
#include <cstring>

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
        case 505:
            return "HTTP Version Not Supported";
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

void HttpSession::refuse(Refusal kind, const QString& why) {
    if (kind == Refusal::Busy) {
        fail(503, why, {"Retry-After: 10"});
    } else {
        fail(403, why);
    }
}

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
    out += "\r\n";
    if (m_method != "HEAD") {  // HEAD: the same header, no body
        out += json;
    }
    // The first final answer to a keyed request is kept for a day; answers
    // that ask for a retry (busy, over the rate) are not.
    if (!m_idempotencyKey.isEmpty() && status != 429 && status < 500) {
        m_desk.storeAnswer(m_idempotencyKey,
                           StoredAnswer{m_desk.loop().now(), status, json, extra});
    }
    send(out);
    close();
}

void HttpSession::fail(int status, const QString& message, const QList<QByteArray>& extra) {
    if (status != 408 && status != 403 && status != 503) {
        log(QStringLiteral("refused (%1): %2").arg(status).arg(message));
    } else if (status == 503) {
        explained();  // the server or the desk wrote the line
    }
    respond(status,
            QJsonDocument(QJsonObject{{QStringLiteral("error"), message}})
                    .toJson(QJsonDocument::Compact) +
                '\n',
            extra);
}

namespace {

bool isToken(const QByteArray& t) {
    if (t.isEmpty()) {
        return false;
    }
    for (const char c : t) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
        if (!ok || c == 0) {
            return false;
        }
    }
    return true;
}

bool knownMethod(const QByteArray& m) {
    for (const char* k :
         {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"}) {
        if (m == k) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool HttpSession::readHeader(const Limits& limits) {
    auto end = m_buffer.indexOf("\r\n\r\n");
    int sep = 4;
    if (end < 0) {
        end = m_buffer.indexOf("\n\n");
        sep = 2;
    }
    if (end < 0) {
        if (m_buffer.size() > limits.maxHeader) {
            fail(431, QStringLiteral("request headers larger than %1 bytes").arg(limits.maxHeader));
        }
        return false;
    }
    if (end > limits.maxHeader) {
        fail(431, QStringLiteral("request headers larger than %1 bytes").arg(limits.maxHeader));
        return false;
    }
    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    for (QByteArray& l : lines) {
        if (l.endsWith('\r')) {
            l.chop(1);
        }
    }
    const QList<QByteArray> request = lines.value(0).split(' ');
    if (request.size() != 3 || !isToken(request[0]) || request[1].isEmpty() ||
        !request[2].startsWith("HTTP/")) {
        fail(400, QStringLiteral("not an HTTP/1 request"));
        return false;
    }
    m_method = request[0];
    m_target = request[1];
    setCommand(QString::fromLatin1(m_method + ' ' + m_target.left(60)));
    if (request[2] != "HTTP/1.1" && request[2] != "HTTP/1.0") {
        fail(505, QStringLiteral("only HTTP/1.1 and HTTP/1.0 are served"));
        return false;
    }
    QList<QByteArray> lengths;
    int hosts = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const auto colon = line.indexOf(':');
        // RFC 9112: no white space inside or after the field name, no line
        // folding, no line without a name.
        if (colon <= 0 || !isToken(line.left(colon))) {
            fail(400, QStringLiteral("bad header line"));
            return false;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            for (const QByteArray& v : value.split(',')) {
                lengths << v.trimmed();
            }
        } else if (name == "host") {
            ++hosts;
        }
        if (m_headers.contains(name) && name != "content-length") {
            m_headers[name] += ", " + value;
        } else {
            m_headers.insert(name, value);
        }
    }
    m_buffer.remove(0, end + sep);
    m_headerDone = true;
    if (request[2] == "HTTP/1.1" && hosts != 1) {
        fail(400, hosts == 0 ? QStringLiteral("no Host header")
                             : QStringLiteral("more than one Host header"));
        return false;
    }
    if (!knownMethod(m_method)) {
        fail(501, QStringLiteral("method not implemented"));
        return false;
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,15}$"));
    for (const QByteArray& l : lengths) {
        if (!digits.match(QString::fromLatin1(l)).hasMatch() || l != lengths.first()) {
            fail(400, QStringLiteral("bad Content-Length"));
            return false;
        }
    }
    m_length = lengths.isEmpty() ? 0 : lengths.first().toLongLong();
    if (m_headers.contains("transfer-encoding")) {
        if (!lengths.isEmpty()) {
            fail(400, QStringLiteral("both Transfer-Encoding and Content-Length"));
            return false;
        }
        if (m_headers.value("transfer-encoding").toLower() != "chunked") {
            fail(501, QStringLiteral("only the chunked transfer coding is understood"));
            return false;
        }
        m_chunked = true;
        m_length = 0;
    }
    if (m_length > limits.maxBody) {
        fail(413, QStringLiteral("body larger than %1 bytes").arg(limits.maxBody));
        return false;
    }
    if (m_headers.value("expect").toLower() == "100-continue") {
        send("HTTP/1.1 100 Continue\r\n\r\n");
    }
    return true;
}

// Decodes as much of a chunked body as has arrived into m_body; true when
// the last chunk and the trailer are in.
bool HttpSession::readChunks(const Limits& limits) {
    while (!closed()) {
        const auto eol = m_buffer.indexOf("\r\n");
        if (m_chunkLeft == 0) {
            if (eol < 0) {
                if (m_buffer.size() > 1024) {
                    fail(400, QStringLiteral("bad chunk"));
                }
                return false;
            }
            const QByteArray line = m_buffer.left(eol);
            if (m_inTrailer) {
                m_buffer.remove(0, eol + 2);
                if (line.isEmpty()) {
                    return true;
                }
                continue;
            }
            const auto semicolon = line.indexOf(';');
            const QByteArray size = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
            bool ok = size.size() <= 8 && !size.isEmpty();
            for (const char c : size) {
                ok = ok && std::isxdigit(static_cast<unsigned char>(c));
            }
            const qint64 n = ok ? size.toLongLong(&ok, 16) : 0;
            if (!ok) {
                fail(400, QStringLiteral("bad chunk size"));
                return false;
            }
            m_buffer.remove(0, eol + 2);
            if (n == 0) {
                m_inTrailer = true;
                continue;
            }
            if (m_body.size() + n > limits.maxBody) {
                fail(413, QStringLiteral("body larger than %1 bytes").arg(limits.maxBody));
                return false;
            }
            m_chunkLeft = n + 2;  // the data and its CR LF
            continue;
        }
        if (m_buffer.size() < m_chunkLeft) {
            return false;
        }
        if (m_buffer.mid(m_chunkLeft - 2, 2) != "\r\n") {
            fail(400, QStringLiteral("bad chunk"));
            return false;
        }
        m_body += m_buffer.left(m_chunkLeft - 2);
        m_buffer.remove(0, m_chunkLeft);
        m_chunkLeft = 0;
    }
    return false;
}

void HttpSession::receive(const QByteArray& bytes) {
    if (closed()) {
        return;
    }
    const Limits limits = m_desk.settings().limits;
    m_buffer += bytes;
    if (!m_headerDone && !readHeader(limits)) {
        return;
    }
    if (closed()) {
        return;
    }
    if (m_chunked) {
        if (readChunks(limits)) {
            madeProgress();
            handle();
        }
        return;
    }
    if (m_buffer.size() > m_length) {
        m_buffer.truncate(m_length);  // one request per connection: extra bytes are dropped
    }
    if (m_buffer.size() == m_length) {
        m_body = m_buffer;
        madeProgress();
        handle();
    }
}

void HttpSession::handle() {
    QByteArray target = m_target;
    // Absolute form ("http://host:port/api/pages"): the path is what counts.
    if (target.startsWith("http://") || target.startsWith("https://")) {
        const auto slash = target.indexOf('/', target.indexOf("//") + 2);
        target = slash < 0 ? QByteArray("/") : target.mid(slash);
    }
    const auto query = target.indexOf('?');
    const QByteArray path = query < 0 ? target : target.left(query);
    const bool read = m_method == "GET" || m_method == "HEAD";
    if (path == "/api/health") {
        if (!read) {
            fail(405, QStringLiteral("use GET"), {"Allow: GET, HEAD"});
            return;
        }
        health();
    } else if (path.startsWith("/api/pages/")) {
        if (!read) {
            fail(405, QStringLiteral("use GET"), {"Allow: GET, HEAD"});
            return;
        }
        pageStatus(QString::fromLatin1(path.mid(11)));
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

// The bearer token of the request: the scheme's name compares without
// regard to case (RFC 9110), the token exactly.
QByteArray HttpSession::bearer() const {
    const QByteArray auth = m_headers.value("authorization").trimmed();
    const auto space = auth.indexOf(' ');
    if (space <= 0 || auth.left(space).toLower() != "bearer") {
        return {};
    }
    return auth.mid(space + 1).trimmed();
}

bool HttpSession::tokenValid(QString* user) {
    if (m_authChecked) {
        *user = m_user;
        return m_authOk;
    }
    const GatewayConfig& c = m_desk.settings();
    const QByteArray given = bearer();
    m_authChecked = true;
    if (!given.isEmpty() && !c.token.isEmpty() && sameSecret(given, c.token.toUtf8())) {
        m_authOk = true;  // the shared token: no user
    } else if (!given.isEmpty() && !c.tokens.isEmpty()) {
        // Each user's hash costs a tenth of a second: an address over its
        // rate gets no more tries, so wrong tokens cannot stall the gateway.
        if (m_desk.overRate(m_peer)) {
            m_authLimited = true;
        } else {
            m_user = m_desk.accounts().whose(c.tokens, given);
            m_authOk = !m_user.isEmpty();
        }
    }
    if (!m_authOk && !given.isEmpty()) {
        m_desk.failedLogin(m_peer);  // tokens cannot be guessed faster than pages are sent
    }
    *user = m_user;
    return m_authOk;
}

void HttpSession::health() {
    QString error;
    const QString folder = m_desk.queueFolder(&error);
    QJsonObject o{{QStringLiteral("status"),
                   folder.isEmpty() ? QStringLiteral("error") : QStringLiteral("ok")}};
    // Only a caller with the token learns more than up or down: the reason
    // names folders, the count tells how many pagers there are.
    QString user;
    if (tokenValid(&user)) {
        o.insert(QStringLiteral("recipients"),
                 static_cast<int>(m_desk.settings().recipients.size()));
        o.insert(QStringLiteral("queue"), folder.isEmpty() ? error : QStringLiteral("ok"));
    } else {
        o.insert(QStringLiteral("queue"),
                 folder.isEmpty() ? QStringLiteral("unavailable") : QStringLiteral("ok"));
    }
    if (folder.isEmpty()) {
        log(QStringLiteral("health: queue unavailable: %1").arg(error));
    }
    respond(folder.isEmpty() ? 503 : 200, QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

void HttpSession::pageStatus(const QString& id) {
    QString user;
    if (!tokenValid(&user)) {
        fail(401, QStringLiteral("missing or wrong bearer token"),
             {"WWW-Authenticate: Bearer realm=\"vtsgate\""});
        return;
    }
    const PageStatus st = m_desk.status(id);
    if (!st.found) {
        fail(404, QStringLiteral("no page %1").arg(PageSubmitter::headerValue(id, 60)));
        return;
    }
    QJsonObject o{{QStringLiteral("id"), id}, {QStringLiteral("state"), st.state}};
    if (st.logId > 0) {
        o.insert(QStringLiteral("log_id"), st.logId);
    }
    if (!st.cause.isEmpty()) {
        o.insert(QStringLiteral("cause"), st.cause);
    }
    if (!st.delivery.isEmpty()) {
        o.insert(QStringLiteral("delivery"), st.delivery);
        if (!st.deliveryReason.isEmpty()) {
            o.insert(QStringLiteral("delivery_reason"), st.deliveryReason);
        }
    }
    respond(200, QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

void HttpSession::pages() {
    const GatewayConfig& c = m_desk.settings();
    const QByteArray given = bearer();
    QString user;
    if (!tokenValid(&user) && m_authLimited) {
        fail(429, QStringLiteral("too many failed tokens from this address; try again later"),
             {"Retry-After: 60"});
        return;
    }
    if (!m_authOk) {
        fail(401,
             c.token.isEmpty() && c.tokens.isEmpty()
                 ? QStringLiteral("no token is set in vtsgate.ini; pages are refused")
             : given.isEmpty() ? QStringLiteral("missing bearer token")
                               : QStringLiteral("wrong bearer token"),
             {"WWW-Authenticate: Bearer realm=\"vtsgate\""});
        return;
    }
    const QByteArray key = m_headers.value("idempotency-key");
    if (!key.isEmpty()) {
        if (key.size() > 255) {
            fail(400, QStringLiteral("Idempotency-Key longer than 255 characters"));
            return;
        }
        // Keys are the caller's own: one account cannot replay another's.
        const QString k = (user.isEmpty() ? QStringLiteral("*") : user) + QLatin1Char('\n') +
                          QString::fromLatin1(key);
        if (const StoredAnswer* a = m_desk.storedAnswer(k)) {
            log(QStringLiteral("repeated Idempotency-Key: first answer (%1) sent again, nothing "
                               "queued")
                    .arg(a->status));
            QList<QByteArray> headers = a->headers;
            headers << "Idempotent-Replayed: true";
            respond(a->status, a->body, headers);
            return;
        }
        m_idempotencyKey = k;
    }
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(m_body, &pe);
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
    order.user = user;
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
            QJsonArray ids;
            for (const QString& f : r.files) {
                files.append(f);
                ids.append(PageSubmitter::pageId(f));
            }
            respond(201,
                    QJsonDocument(
                        QJsonObject{{QStringLiteral("ids"), ids}, {QStringLiteral("files"), files}})
                            .toJson(QJsonDocument::Compact) +
                        '\n',
                    {"Location: /api/pages/" + PageSubmitter::pageId(r.files.first()).toLatin1()});
            break;
        }
        case SubmitResult::Status::Forbidden:
            respond(403, QJsonDocument(QJsonObject{{QStringLiteral("error"), r.message}})
                                 .toJson(QJsonDocument::Compact) +
                             '\n');
            break;
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
