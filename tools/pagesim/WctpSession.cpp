#include "WctpSession.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace vts::sim {

namespace {
constexpr qsizetype kMaxHeaders = 16 * qsizetype{1024};
constexpr qsizetype kMaxBody = 256 * qsizetype{1024};
}  // namespace

WctpSession::WctpSession(int comPort, const Behaviour& behaviour, PortState& port, double now,
                         Sink sink)
    : EndpointSession(QStringLiteral("wctp"), comPort, behaviour, now, std::move(sink)),
      m_port(port) {}

std::optional<WctpSession::Submission> WctpSession::parseSubmit(const QByteArray& xml,
                                                                QString* error) {
    Submission s;
    QXmlStreamReader r(xml);
    QStringList path;
    bool sawRecipient = false, sawText = false, sawVersion = false;
    while (!r.atEnd()) {
        const auto token = r.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = r.name().toString();
            const auto a = r.attributes();
            if (path.isEmpty() && name != u"wctp-Operation") {
                *error = QStringLiteral("root element is %1").arg(name);
                return std::nullopt;
            }
            if (name == u"wctp-Operation") {
                sawVersion = a.value(QStringLiteral("wctpVersion")).startsWith(u"wctp-dtd-v1r");
            } else if (name == u"wctp-Originator") {
                s.senderId = a.value(QStringLiteral("senderID")).toString();
                s.securityCode = a.value(QStringLiteral("securityCode")).toString();
            } else if (name == u"wctp-Recipient") {
                s.recipientId = a.value(QStringLiteral("recipientID")).toString();
                sawRecipient = true;
            } else if (name == u"wctp-MessageControl") {
                s.messageId = a.value(QStringLiteral("messageID")).toString();
            } else if (name == u"wctp-Alphanumeric" && path.contains(u"wctp-Payload")) {
                s.text = r.readElementText();
                sawText = true;
                continue;
            }
            path.append(name);
        } else if (token == QXmlStreamReader::EndElement && !path.isEmpty()) {
            path.removeLast();
        }
    }
    if (r.hasError()) {
        *error = QStringLiteral("XML: %1").arg(r.errorString());
        return std::nullopt;
    }
    if (!sawVersion || !sawRecipient || !sawText || s.senderId.isEmpty()) {
        *error = QStringLiteral("not a complete wctp-SubmitRequest");
        return std::nullopt;
    }
    return s;
}

QByteArray WctpSession::confirmation(bool success, int code, const QString& text) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeDTD(QStringLiteral(
        "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">"));
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), QStringLiteral("wctp-dtd-v1r3"));
    w.writeStartElement(QStringLiteral("wctp-Confirmation"));
    w.writeStartElement(success ? QStringLiteral("wctp-Success") : QStringLiteral("wctp-Failure"));
    w.writeAttribute(success ? QStringLiteral("successCode") : QStringLiteral("errorCode"),
                     QString::number(code));
    w.writeAttribute(success ? QStringLiteral("successText") : QStringLiteral("errorText"), text);
    w.writeCharacters(text);
    w.writeEndDocument();
    return out;
}

void WctpSession::respond(int status, const QByteArray& reason, const QByteArray& body) {
    m_out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
             "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
             QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void WctpSession::receive(const QByteArray& bytes, double) {
    if (!m_answering || m_close) {
        return;
    }
    m_in += bytes;
    for (;;) {
        const qsizetype end = m_in.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_in.size() > kMaxHeaders) {
                violation(QStringLiteral("request headers too long"));
                respond(431, "Request Header Fields Too Large", {});
                m_close = true;
            }
            return;
        }
        const QList<QByteArray> lines = m_in.left(end).split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        qsizetype length = -1;
        bool close = false;
        for (const QByteArray& l : lines.mid(1)) {
            const qsizetype colon = l.indexOf(':');
            const QByteArray key = l.left(colon).trimmed().toLower();
            const QByteArray value = l.mid(colon + 1).trimmed();
            if (key == "content-length") {
                bool ok = false;
                length = value.toLongLong(&ok);
                if (!ok || length < 0) {
                    length = -2;
                }
            } else if (key == "connection" && value.toLower() == "close") {
                close = true;
            } else if (key == "transfer-encoding") {
                length = -2;
            }
        }
        if (start.size() != 3 || length == -2 || length > kMaxBody) {
            violation(QStringLiteral("bad request: %1").arg(QString::fromLatin1(lines.value(0))));
            respond(400, "Bad Request", {});
            m_close = true;
            return;
        }
        if (length < 0) {
            length = 0;
        }
        if (m_in.size() < end + 4 + length) {
            return;  // the body is still on its way
        }
        const QByteArray body = m_in.mid(end + 4, length);
        m_in.remove(0, end + 4 + length);
        request(start[0], body);
        if (close) {
            m_close = true;
        }
        if (m_close || !m_answering) {
            return;
        }
    }
}

void WctpSession::request(const QByteArray& method, const QByteArray& body) {
    if (method != "POST") {
        violation(QStringLiteral("%1 instead of POST").arg(QString::fromLatin1(method)));
        respond(405, "Method Not Allowed", {});
        return;
    }
    QString error;
    const auto s = parseSubmit(body, &error);
    if (!s) {
        violation(error);
        respond(200, "OK", confirmation(false, 301, QStringLiteral("Input can not be parsed")));
        return;
    }
    if (m_port.down || (m_b.dropAfter >= 0 && m_port.pages >= m_b.dropAfter)) {
        m_port.down = true;
        m_drop = m_close = true;
        m_end = QStringLiteral("dropped after %1 page(s)").arg(m_port.pages);
        return;
    }
    if (m_b.holdAfter >= 0 && m_port.pages >= m_b.holdAfter) {
        m_answering = false;
        m_end = QStringLiteral("stopped answering after %1 page(s)").arg(m_pages);
        return;
    }
    if (m_b.password && s->securityCode.toLatin1() != *m_b.password) {
        respond(200, "OK", confirmation(false, 402, QStringLiteral("invalid security code")));
        return;
    }
    if (s->recipientId.isEmpty() || m_b.rejects(s->recipientId.toUtf8())) {
        respond(200, "OK", confirmation(false, 403, QStringLiteral("invalid recipientID")));
        return;
    }
    ++m_pages;
    ++m_port.pages;
    m_sink(QStringLiteral("page"), QJsonObject{{QStringLiteral("time"), recordTime()},
                                               {QStringLiteral("port"), m_com},
                                               {QStringLiteral("endpoint"), QStringLiteral("wctp")},
                                               {QStringLiteral("kind"), QStringLiteral("alpha")},
                                               {QStringLiteral("pin"), s->recipientId},
                                               {QStringLiteral("sender"), s->senderId},
                                               {QStringLiteral("message_id"), s->messageId},
                                               {QStringLiteral("text"), s->text}});
    respond(200, "OK", confirmation(true, 200, QStringLiteral("Accepted")));
}

}  // namespace vts::sim
