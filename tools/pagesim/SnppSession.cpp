#include "SnppSession.h"

#include "TapTerminal.h"

#include <Tap.h>

namespace vts::sim {

namespace {
constexpr qsizetype kMaxLine = 4096;
constexpr qsizetype kMaxMessage = 32 * qsizetype{1024};

bool isPin(const QByteArray& pin) {
    if (pin.isEmpty() || pin.size() > 32) {
        return false;
    }
    for (char c : pin) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}
}  // namespace

SnppSession::SnppSession(int comPort, const Behaviour& behaviour, double now, Sink sink)
    : EndpointSession(QStringLiteral("snpp"), comPort, behaviour, now, std::move(sink)) {
    if (m_answering) {
        reply("220 pagesim SNPP server ready");
    }
}

void SnppSession::receive(const QByteArray& bytes, double) {
    receiveLines(bytes, kMaxLine, "421 Line too long, goodbye",
                 [this](QByteArray text) { line(std::move(text)); });
}

void SnppSession::line(QByteArray text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (u < 0x20 && c != '\t')) {
            violation(QStringLiteral("8-bit or control byte in \"%1\"")
                          .arg(tap::describe(text.left(60))));
            if (m_inData) {
                m_inData = false;
                m_data.clear();
            }
            reply("550 Error, only 7-bit text is accepted");
            return;
        }
    }
    if (m_inData) {
        if (text == ".") {
            m_inData = false;
            if (m_data.isEmpty()) {
                reply("550 Error, Blank Message");
            } else {
                m_message = m_data;
                reply("250 Message OK");
            }
            m_data.clear();
            return;
        }
        if (text.startsWith('.')) {
            text.remove(0, 1);
        }
        if (m_data.size() + text.size() < kMaxMessage) {
            m_data += text + '\n';
        }
        return;
    }
    const qsizetype sp = text.indexOf(' ');
    const QByteArray cmd = text.left(sp < 0 ? text.size() : sp).left(4).toUpper();
    const QByteArray arg = sp < 0 ? QByteArray() : text.mid(sp + 1);
    if (cmd == "PAGE") {
        const QList<QByteArray> words = arg.simplified().split(' ');
        const QByteArray pin = words.value(0);
        const QByteArray password = words.value(1);
        if (!isPin(pin) || m_b.rejects(pin)) {
            reply("550 Error, Invalid Pager ID");
        } else if (m_b.password && password != *m_b.password) {
            reply("550 Error, Invalid Password");
        } else {
            m_pin = pin;
            m_havePin = true;
            reply("250 Pager ID Accepted");
        }
    } else if (cmd == "MESS") {
        if (m_message) {
            reply("503 ERROR, Message Already Entered");
        } else if (arg.trimmed().isEmpty()) {
            reply("550 ERROR, Invalid Message");
        } else {
            m_message = arg;
            reply("250 Message OK");
        }
    } else if (cmd == "DATA") {
        if (m_message) {
            reply("503 ERROR, Message Already Entered");
        } else {
            m_inData = true;
            m_data.clear();
            reply("354 Begin Input; End with <CRLF>'.'<CRLF>");
        }
    } else if (cmd == "SEND") {
        if (!m_havePin || !m_message) {
            reply("503 Error, Pager ID or Message Incomplete");
            return;
        }
        if (stopsBeforeNextPage()) {
            return;
        }
        QByteArray message = *m_message;
        if (message.endsWith('\n')) {
            message.chop(1);
        }
        ++m_pages;
        m_sink(QStringLiteral("page"),
               QJsonObject{{QStringLiteral("time"), recordTime()},
                           {QStringLiteral("port"), m_com},
                           {QStringLiteral("endpoint"), QStringLiteral("snpp")},
                           {QStringLiteral("kind"), QStringLiteral("alpha")},
                           {QStringLiteral("pin"), QString::fromLatin1(m_pin)},
                           {QStringLiteral("text"), QString::fromLatin1(message)}});
        m_havePin = false;
        m_message.reset();
        reply("250 Message Sent Successfully");
    } else if (cmd == "RESE") {
        m_havePin = false;
        m_message.reset();
        reply("250 RESET OK");
    } else if (cmd == "QUIT") {
        reply("221 OK, Goodbye");
        m_end = QStringLiteral("quit");
        m_close = true;
    } else if (cmd == "LEVE") {
        reply("250 OK");
    } else if (cmd == "HELP") {
        reply("214-pagesim SNPP server");
        reply("214 PAGE MESS DATA SEND RESE QUIT LEVE HELP");
    } else {
        reply("500 Command Not Implemented, Try Again");
    }
}

}  // namespace vts::sim
