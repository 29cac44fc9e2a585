#include "WctpTransport.h"

#include "CurlSupport.h"
#include "Dialer.h"
#include "Line.h"
#include "TraceLog.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <curl/curl.h>
#include <sys/socket.h>

namespace vts {

namespace {

constexpr qsizetype kMaxReply = 64 * qsizetype{1024};

struct Transfer {
    QByteArray body;
    bool tooLong = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + static_cast<qsizetype>(n) > kMaxReply) {
        t->tooLong = true;
        return 0;  // aborts the transfer
    }
    t->body.append(data, static_cast<qsizetype>(n));
    return n;
}

// Counts the requests the library sends in one transfer; nothing of the
// library's own chatter reaches the trace.
int onDebug(CURL*, curl_infotype type, char*, size_t, void* user) {
    if (type == CURLINFO_HEADER_OUT) {
        ++*static_cast<int*>(user);
    }
    return 0;
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* a) {
    if (*static_cast<int*>(user) > 0) {
        return CURL_SOCKET_BAD;  // the request went out once: it is not sent again
    }
    return ::socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
}

QString readable(const QByteArray& xml) { return QString::fromUtf8(xml).simplified(); }

}  // namespace

QByteArray WctpTransport::submitRequest(const Submit& s) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument(QStringLiteral("1.0"));
    w.writeDTD(QStringLiteral(
        "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">"));
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), QStringLiteral("wctp-dtd-v1r3"));
    w.writeStartElement(QStringLiteral("wctp-SubmitRequest"));
    w.writeStartElement(QStringLiteral("wctp-SubmitHeader"));
    w.writeAttribute(QStringLiteral("submitTimestamp"),
                     s.timestamp.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    w.writeEmptyElement(QStringLiteral("wctp-Originator"));
    w.writeAttribute(QStringLiteral("senderID"), s.senderId);
    if (!s.securityCode.isEmpty()) {
        w.writeAttribute(QStringLiteral("securityCode"), s.securityCode);
    }
    w.writeEmptyElement(QStringLiteral("wctp-MessageControl"));
    w.writeAttribute(QStringLiteral("messageID"), s.messageId);
    w.writeAttribute(QStringLiteral("allowResponse"), QStringLiteral("false"));
    w.writeEmptyElement(QStringLiteral("wctp-Recipient"));
    w.writeAttribute(QStringLiteral("recipientID"), s.recipientId);
    w.writeEndElement();  // wctp-SubmitHeader
    w.writeStartElement(QStringLiteral("wctp-Payload"));
    w.writeTextElement(QStringLiteral("wctp-Alphanumeric"), s.text);
    w.writeEndElement();  // wctp-Payload
    w.writeEndElement();  // wctp-SubmitRequest
    w.writeEndElement();  // wctp-Operation
    w.writeEndDocument();
    return out;
}

WctpTransport::Confirmation WctpTransport::parseConfirmation(const QByteArray& xml) {
    Confirmation c;
    QXmlStreamReader r(xml);
    bool inConfirmation = false, sawOperation = false;
    while (!r.atEnd()) {
        const auto token = r.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const auto name = r.name();
            if (!sawOperation) {
                if (name != u"wctp-Operation") {
                    return {};
                }
                sawOperation = true;
                continue;
            }
            if (name == u"wctp-Confirmation") {
                inConfirmation = true;
            } else if (inConfirmation && (name == u"wctp-Success" || name == u"wctp-Failure") &&
                       c.kind == Confirmation::Kind::Unreadable) {
                const bool ok = name == u"wctp-Success";
                const auto attrs = r.attributes();
                c.code =
                    attrs.value(ok ? QStringLiteral("successCode") : QStringLiteral("errorCode"))
                        .toInt();
                c.text =
                    attrs.value(ok ? QStringLiteral("successText") : QStringLiteral("errorText"))
                        .toString()
                        .simplified();
                const QString content = r.readElementText(QXmlStreamReader::SkipChildElements);
                if (c.text.isEmpty()) {
                    c.text = content.simplified();
                }
                c.kind = ok ? Confirmation::Kind::Success : Confirmation::Kind::Failure;
            }
        } else if (token == QXmlStreamReader::EndElement && r.name() == u"wctp-Confirmation") {
            inConfirmation = false;
        }
    }
    if (r.hasError()) {
        return {};
    }
    return c;
}

bool WctpTransport::refusedForGood(int code) {
    // 400-499 refuse the sender or the recipient, 500-599 the message; 300-399
    // (the request) and 600-699 (the carrier's system) may pass another time.
    return code >= 400 && code < 600;
}

bool WctpTransport::open(const QList<Page*>& pages) {
    m_curl = curlsupport::newHandle();
    if (!m_curl) {
        setReason(QStringLiteral("cannot start the HTTP library"));
        return false;
    }
    m_url = m_target.url.toUtf8();
    m_headers = curl_slist_append(m_headers, "Content-Type: text/xml; charset=utf-8");
    m_headers = curl_slist_append(m_headers, "Expect:");
    curlsupport::setTransfer(m_curl, m_url, "http,https", timeout());
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(m_curl, CURLOPT_USERAGENT, "calvex");
    // libcurl re-sends a request on a new connection, unasked, when a
    // kept-alive one drops before the reply, and a carrier that had read it
    // would page twice. Every request the library sends is counted, and a
    // new connection after one was sent in the same transfer is refused.
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, &m_sentInTransfer);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETDATA, &m_sentInTransfer);
    curlsupport::applyTls(m_curl, m_opt.tls, m_tlsFiles);
    // The URL keeps the name, for the Host header and the certificate check.
    const QUrl url(m_target.url);
    const auto port = static_cast<quint16>(url.port(
        url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
    QString error;
    if (!curlsupport::pinAddress(m_curl, url.host(), port, timeout(), &m_resolve, &error)) {
        trace().note(error);
        setReason(error);
        return false;
    }
    trace().note(QStringLiteral("posting %1 page(s) to %2").arg(pages.size()).arg(m_target.url));
    return true;
}

Outcome WctpTransport::send(Page& p) {
    if (Cancellation::requested()) {
        return Outcome::down({});
    }
    if (p.pin.isEmpty()) {
        return Outcome::failed(QStringLiteral("no PIN"));
    }
    Submit s;
    s.senderId = m_opt.wctpOriginator;
    s.securityCode = call().tapPassword.trimmed();
    s.messageId = (p.rec.uniqueId.trimmed() + u'-' + QString::number(p.rec.index)).left(32);
    s.recipientId = p.pin;
    s.text = p.text;
    s.timestamp = QDateTime::currentDateTimeUtc();
    const QByteArray request = submitRequest(s);
    trace().note(QStringLiteral("-> %1").arg(readable(request)));
    Transfer t;
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, request.constData());
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
    m_sentInTransfer = 0;
    const CURLcode rc = curl_easy_perform(m_curl);
    if (m_sentInTransfer > 1) {
        trace().note(QStringLiteral("the library sent the request %1 times").arg(m_sentInTransfer));
    }
    long http = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &http);
    if (rc != CURLE_OK) {
        const QString why = rc == CURLE_ABORTED_BY_CALLBACK ? QStringLiteral("stopped")
                            : m_sentInTransfer > 0 && rc == CURLE_COULDNT_CONNECT
                                ? QStringLiteral(
                                      "connection lost after the request was sent; "
                                      "not sent again")
                            : t.tooLong
                                ? QStringLiteral("reply larger than %1 bytes").arg(kMaxReply)
                                : QString::fromUtf8(curl_easy_strerror(rc));
        trace().note(QStringLiteral("transfer failed: %1").arg(why));
        return t.tooLong ? Outcome::failed(why) : Outcome::down(why);
    }
    trace().note(QStringLiteral("<- HTTP %1 %2").arg(http).arg(readable(t.body)));
    if (http < 200 || http > 299) {
        // A redirect, a refused log-in or a server fault: whatever the body
        // says, the carrier did not take the request as a WCTP operation.
        return Outcome::failed(QStringLiteral("HTTP %1 from the carrier").arg(http));
    }
    const Confirmation c = parseConfirmation(t.body);
    switch (c.kind) {
        case Confirmation::Kind::Success:
            return Outcome::sent();
        case Confirmation::Kind::Failure: {
            const QString why = QStringLiteral("carrier error %1: %2").arg(c.code).arg(c.text);
            return refusedForGood(c.code) ? Outcome::refused(why) : Outcome::failed(why);
        }
        case Confirmation::Kind::Unreadable:
            break;
    }
    return Outcome::failed(QStringLiteral("HTTP %1 without a WCTP confirmation").arg(http));
}

void WctpTransport::close(const QList<Page*>&) {
    curl_slist_free_all(m_headers);
    m_headers = nullptr;
    curl_slist_free_all(m_resolve);
    m_resolve = nullptr;
    curl_easy_cleanup(m_curl);
    m_curl = nullptr;
}

WctpTransport::~WctpTransport() {
    curl_slist_free_all(m_headers);
    curl_slist_free_all(m_resolve);
    if (m_curl) {
        curl_easy_cleanup(m_curl);
    }
}

}  // namespace vts
