#include "TapClient.h"

#include "Tap.h"
#include "TraceLog.h"

#include <cctype>

namespace vts {

using namespace tap;

bool TapClient::nextEvent(QByteArray& buf, QByteArray& line, Event& event,
                          QList<QByteArray>& messages) {
    qsizetype i = 0;
    auto take = [&](qsizetype n, Event e) {
        buf.remove(0, i + n);
        event = e;
        return true;
    };
    for (; i < buf.size(); ++i) {
        const char c = buf[i];
        switch (c) {
            case ACK:
                return take(1, Event::Ack);
            case NAK:
                return take(1, Event::Nak);
            case RS:
                return take(1, Event::Rs);
            case ESC:
                if (i + 1 >= buf.size()) {
                    buf.remove(0, i);
                    return false;  // the rest of the sequence is still on its way
                }
                if (buf[i + 1] == EOT) {
                    return take(2, Event::Disconnect);
                }
                if (buf[i + 1] == '[') {
                    if (i + 2 >= buf.size()) {
                        buf.remove(0, i);
                        return false;
                    }
                    if (buf[i + 2] == 'p' || buf[i + 2] == 'P') {
                        return take(3, Event::GoAhead);
                    }
                }
                continue;
            case CR:
            case LF: {
                const QByteArray text = line.trimmed();
                line.clear();
                if (text == "NO CARRIER") {
                    return take(1, Event::CarrierLost);
                }
                if (text.size() >= 3 && std::isdigit(static_cast<unsigned char>(text[0])) &&
                    std::isdigit(static_cast<unsigned char>(text[1])) &&
                    std::isdigit(static_cast<unsigned char>(text[2]))) {
                    messages.append(text);
                }
                continue;
            }
            default:
                if (static_cast<unsigned char>(c) >= 0x20) {
                    if (line.size() < 4096) {
                        line.append(c);
                    }
                    if (line.endsWith("ID=")) {
                        line.clear();
                        return take(1, Event::Id);
                    }
                }
        }
    }
    buf.clear();
    return false;
}

TapClient::Event TapClient::await(Deadline deadline) {
    for (;;) {
        Event e;
        if (nextEvent(m_channel.buffer(), m_line, e, m_messages)) {
            if (e == Event::CarrierLost) {
                m_carrierLost = true;
                down(QStringLiteral("carrier lost"));
            }
            return e;
        }
        switch (m_channel.receive(deadline)) {
            case LineWait::Data:
                continue;
            case LineWait::Timeout:
                return Event::Timeout;
            case LineWait::Cancelled:
                m_cancelled = true;
                down(QStringLiteral("stopped"));
                return Event::Cancelled;
            case LineWait::Closed:
                down(QStringLiteral("line closed"));
                return Event::LineError;
        }
    }
}

void TapClient::down(const QString& why) {
    if (m_up) {
        m_channel.trace().note(QStringLiteral("call down: %1").arg(why));
    }
    m_up = false;
    if (m_reason.isEmpty()) {
        m_reason = why;
    }
}

TapClient::LogOnResult TapClient::logOn(const QByteArray& password) {
    bool gotId = false;
    for (int probe = 0; probe < m_t.n1 && !gotId && m_up; ++probe) {
        if (!m_channel.send(QByteArray(1, CR))) {
            down(QStringLiteral("line closed"));
            break;
        }
        const Deadline d = deadlineIn(m_t.t1);
        for (;;) {
            const Event e = await(d);
            if (e == Event::Id) {
                gotId = true;
                // A second "ID=" already on its way (the answer to an
                // earlier probe, or an unprompted one) is not a new prompt.
                m_channel.discardInput();
                m_line.clear();
            }
            if (e == Event::Id || e == Event::Timeout || !m_up) {
                break;
            }
            if (e == Event::Disconnect) {
                down(QStringLiteral("terminal disconnected before log-on"));
                break;
            }
        }
    }
    if (!m_up) {
        return LogOnResult::Failed;
    }
    if (!gotId) {
        down(QStringLiteral("no ID= from the terminal"));
        return LogOnResult::Failed;
    }
    const QByteArray logon = QByteArray(1, ESC) + "PG1" + password + CR;
    bool accepted = false, goAhead = false;
    for (int attempt = 0; attempt < m_t.n3 && !accepted && m_up; ++attempt) {
        m_messages.clear();
        if (!m_channel.send(logon)) {
            down(QStringLiteral("line closed"));
            break;
        }
        const Deadline d = deadlineIn(m_t.t3);
        // An "ID=" sooner than the terminal could have read the log-on is
        // a repeated prompt, not a request for another log-on.
        const Deadline stalePrompts = deadlineIn(kPromptEcho);
        bool retry = false;
        while (!accepted && !retry && m_up) {
            switch (await(d)) {
                case Event::Ack:
                    accepted = true;
                    break;
                case Event::GoAhead:
                    accepted = goAhead = true;
                    break;
                case Event::Id:
                    if (Clock::now() < stalePrompts) {
                        m_channel.trace().note(QStringLiteral("repeated ID= ignored"));
                        break;
                    }
                    retry = true;
                    break;
                case Event::Nak:
                case Event::Timeout:
                    retry = true;
                    break;
                case Event::Disconnect:
                    down(QStringLiteral("log-on rejected"));
                    return LogOnResult::Rejected;
                default:
                    break;
            }
        }
    }
    if (!m_up) {
        return LogOnResult::Failed;
    }
    if (!accepted) {
        down(QStringLiteral("log-on not accepted"));
        return LogOnResult::Rejected;
    }
    const Deadline d = deadlineIn(m_t.t3);
    while (!goAhead && m_up) {
        switch (await(d)) {
            case Event::GoAhead:
                goAhead = true;
                break;
            case Event::Disconnect:
                down(QStringLiteral("terminal disconnected after log-on"));
                return LogOnResult::Rejected;
            case Event::Timeout:
                down(QStringLiteral("no go-ahead from the terminal"));
                return LogOnResult::Failed;
            default:
                break;
        }
    }
    if (!m_up) {
        return LogOnResult::Failed;
    }
    // Whatever else came with the go-ahead (a late prompt, a banner) must
    // not be read as the reply to the first block.
    m_channel.discardInput();
    m_line.clear();
    return LogOnResult::Accepted;
}

TapClient::PageResult TapClient::sendPage(const QList<QByteArray>& blocks) {
    if (!m_up) {
        return PageResult::NotSent;
    }
    for (const QByteArray& block : blocks) {
        int naks = 0, silences = 0;
        bool next = false;
        m_messages.clear();
        while (!next) {
            if (!m_channel.send(block)) {
                down(QStringLiteral("line closed"));
                return PageResult::NotSent;
            }
            const Deadline d = deadlineIn(m_t.t3);
            bool resend = false;
            while (!next && !resend) {
                switch (await(d)) {
                    case Event::Ack:
                        next = true;
                        break;
                    case Event::Nak:
                        if (++naks > m_t.nakResends) {
                            down(QStringLiteral("block refused %1 times").arg(naks));
                            return PageResult::NotSent;
                        }
                        resend = true;
                        break;
                    case Event::Timeout:
                        if (++silences > m_t.n2) {
                            down(QStringLiteral("no reply to a block"));
                            return PageResult::NotSent;
                        }
                        resend = true;
                        break;
                    case Event::Rs:
                        m_reason = QStringLiteral("page rejected");
                        if (!m_messages.isEmpty()) {
                            m_reason +=
                                QStringLiteral(": ") + QString::fromLatin1(m_messages.last());
                        }
                        return PageResult::Rejected;
                    case Event::Disconnect:
                        down(QStringLiteral("terminal ended the call"));
                        return PageResult::NotSent;
                    case Event::GoAhead:
                    case Event::Id:
                        break;
                    default:
                        return PageResult::NotSent;  // call down
                }
            }
        }
    }
    return PageResult::Accepted;
}

void TapClient::logOff() {
    if (!m_up) {
        return;
    }
    m_messages.clear();
    if (!m_channel.send(seq({EOT, CR}))) {
        down(QStringLiteral("line closed"));
        return;
    }
    const Deadline d = deadlineIn(m_t.t3);
    while (m_up) {
        const Event e = await(d);
        if (e == Event::Rs) {
            // The terminal takes back something it had accepted and does
            // not say what: none of the call's pages can count as sent.
            m_withdrawn = true;
            QString why = QStringLiteral("terminal rejected the call's pages after log-off (RS)");
            if (!m_messages.isEmpty()) {
                why += QStringLiteral(": ") + QString::fromLatin1(m_messages.last());
            }
            m_channel.trace().note(why);
        }
        if (e == Event::Disconnect || e == Event::Timeout) {
            down(e == Event::Disconnect ? QStringLiteral("logged off")
                                        : QStringLiteral("no disconnect after log-off"));
            return;
        }
    }
}

}  // namespace vts
