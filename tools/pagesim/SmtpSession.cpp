#include "SmtpSession.h"

namespace vts::sim {

namespace {
constexpr qsizetype kMaxLine = 1000;
constexpr qsizetype kMaxMail = 64 * qsizetype{1024};
}  // namespace

SmtpSession::SmtpSession(int comPort, const Behaviour& behaviour, double now, Sink sink)
    : EndpointSession(QStringLiteral("smtp"), comPort, behaviour, now, std::move(sink)) {
    if (m_answering) {
        reply("220 pagesim ESMTP ready");
    }
}

void SmtpSession::receive(const QByteArray& bytes, double) {
    receiveLines(bytes, kMaxLine, "500 Line too long",
                 [this](QByteArray text) { line(std::move(text)); });
}

void SmtpSession::line(QByteArray text) {
    if (m_inData) {
        if (text == ".") {
            m_inData = false;
            endOfData();
            return;
        }
        if (text.startsWith('.')) {
            text.remove(0, 1);
        }
        if (m_data.size() + text.size() < kMaxMail) {
            m_data += text + '\n';
        }
        return;
    }
    const QByteArray upper = text.toUpper();
    if (upper.startsWith("EHLO") || upper.startsWith("HELO")) {
        reply("250 pagesim");
    } else if (upper.startsWith("MAIL FROM:")) {
        m_haveFrom = true;
        reply("250 OK");
    } else if (upper.startsWith("RCPT TO:")) {
        QByteArray address = text.mid(8).trimmed();
        address = address.mid(address.indexOf('<') + 1);
        address = address.left(address.indexOf('>'));
        const QByteArray local = address.left(address.indexOf('@'));
        if (!m_haveFrom) {
            reply("503 MAIL first");
        } else if (local.isEmpty() || m_b.rejects(local)) {
            reply("550 No such pager");
        } else {
            m_pin = local;
            reply("250 OK");
        }
    } else if (upper == "DATA") {
        if (m_pin.isEmpty()) {
            reply("503 RCPT first");
        } else {
            m_inData = true;
            m_data.clear();
            reply("354 End data with <CR><LF>.<CR><LF>");
        }
    } else if (upper == "RSET") {
        m_haveFrom = false;
        m_pin.clear();
        reply("250 OK");
    } else if (upper == "NOOP") {
        reply("250 OK");
    } else if (upper == "QUIT") {
        reply("221 Bye");
        m_end = QStringLiteral("quit");
        m_close = true;
    } else {
        reply("502 Command not implemented");
    }
}

void SmtpSession::endOfData() {
    if (stopsBeforeNextPage()) {
        return;
    }
    const qsizetype split = m_data.indexOf("\n\n");
    const QByteArray head = split < 0 ? m_data : m_data.left(split);
    QByteArray body = split < 0 ? QByteArray() : m_data.mid(split + 2);
    QString text;
    if (head.toLower().contains("content-transfer-encoding: base64")) {
        text = QString::fromUtf8(QByteArray::fromBase64(body));
    } else {
        text = QString::fromUtf8(body);
    }
    while (text.endsWith(u'\n')) {
        text.chop(1);
    }
    ++m_pages;
    m_sink(QStringLiteral("page"), QJsonObject{{QStringLiteral("time"), recordTime()},
                                               {QStringLiteral("port"), m_com},
                                               {QStringLiteral("endpoint"), QStringLiteral("smtp")},
                                               {QStringLiteral("kind"), QStringLiteral("alpha")},
                                               {QStringLiteral("pin"), QString::fromLatin1(m_pin)},
                                               {QStringLiteral("text"), text}});
    m_haveFrom = false;
    m_pin.clear();
    reply("250 OK queued");
}

}  // namespace vts::sim
