#include "SmppSession.h"

#include <SmppPdu.h>
#include <SmsPdu.h>

namespace vts::sim {

using namespace smpp;

SmppSession::SmppSession(int comPort, const Behaviour& behaviour, double now, Sink sink)
    : EndpointSession(QStringLiteral("smpp"), comPort, behaviour, now, std::move(sink)) {}

void SmppSession::respond(std::uint32_t command, std::uint32_t status, std::uint32_t sequence,
                          const QByteArray& body) {
    m_out += encode({command, status, sequence, body});
}

void SmppSession::receive(const QByteArray& bytes, double) {
    if (!m_answering || m_close) {
        return;
    }
    m_in += bytes;
    Pdu pdu;
    for (;;) {
        const Take t = take(m_in, pdu);
        if (t == Take::Incomplete) {
            return;
        }
        if (t == Take::Malformed) {
            violation(QStringLiteral("PDU length out of bounds"));
            respond(GenericNack, RINVCMDLEN, 0);
            m_end = QStringLiteral("malformed PDU");
            m_close = true;
            return;
        }
        switch (pdu.command) {
            case BindTransmitter:
            case BindTransceiver:
            case BindReceiver:
                if (!readBind(pdu.body)) {
                    violation(QStringLiteral("unreadable bind"));
                }
                m_bound = true;
                m_receiving = pdu.command != BindTransmitter;
                respond(pdu.command | Response, ROK, pdu.sequence,
                        Writer().cstring("pagesim", 16).data());
                break;
            case SubmitSm:
                if (!m_bound) {
                    violation(QStringLiteral("submit_sm before a bind"));
                    respond(SubmitSm | Response, RINVBNDSTS, pdu.sequence);
                    break;
                }
                submit(pdu.sequence, pdu.body);
                break;
            case EnquireLink:
                respond(EnquireLink | Response, ROK, pdu.sequence);
                break;
            case Unbind:
                respond(Unbind | Response, ROK, pdu.sequence);
                m_end = QStringLiteral("unbind");
                m_close = true;
                return;
            default:
                if ((pdu.command & Response) == 0) {
                    violation(QStringLiteral("unexpected %1").arg(commandName(pdu.command)));
                    respond(GenericNack, RINVCMDID, pdu.sequence);
                }
        }
        if (m_close || !m_answering) {
            return;
        }
    }
}

void SmppSession::submit(std::uint32_t sequence, const QByteArray& body) {
    const auto m = readShortMessage(body);
    if (!m || (m->dataCoding != 0 && m->dataCoding != 8)) {
        violation(QStringLiteral("unreadable submit_sm"));
        respond(SubmitSm | Response, RINVMSGLEN, sequence);
        return;
    }
    if (m_b.rejects(m->destination)) {
        respond(SubmitSm | Response, RINVDSTADR, sequence);
        return;
    }
    if (stopsBeforeNextPage()) {
        return;
    }
    QByteArray data = m->message;
    int reference = -1, total = 1, part = 1;
    if ((m->esmClass & 0x40) != 0 && data.size() >= 6 && data[0] == 5 && data[1] == 0) {
        reference = static_cast<unsigned char>(data[3]);
        total = static_cast<unsigned char>(data[4]);
        part = static_cast<unsigned char>(data[5]);
        data = data.mid(6);
    }
    QString text;
    if (m->dataCoding == 8) {
        for (qsizetype i = 0; i + 1 < data.size(); i += 2) {
            text += QChar(static_cast<char16_t>((static_cast<unsigned char>(data[i]) << 8) |
                                                static_cast<unsigned char>(data[i + 1])));
        }
    } else {
        text = sms::fromGsm7(data);
    }
    const QByteArray id = "p" + QByteArray::number(++m_ids);
    respond(SubmitSm | Response, ROK, sequence, Writer().cstring(id, 65).data());
    if ((m->registeredDelivery & 1) != 0 && m_receiving) {
        // The handset took it at once: the receipt follows the answer.
        ShortMessage r;
        r.source = m->destination;
        r.destination = m->source;
        r.esmClass = 0x04;
        r.message = receiptText(id, QStringLiteral("DELIVRD"), QStringLiteral("000"));
        m_out += encode({DeliverSm, ROK, ++m_sequence, shortMessageBody(r)});
    }
    if (reference >= 0) {
        const QByteArray key = m->destination + '/' + QByteArray::number(reference);
        auto& parts = m_parts[key];
        parts.insert(part, text);
        if (parts.size() < total) {
            return;
        }
        text = QStringList(parts.values()).join(QString());
        m_parts.remove(key);
    }
    ++m_pages;
    m_sink(QStringLiteral("page"),
           QJsonObject{{QStringLiteral("time"), recordTime()},
                       {QStringLiteral("port"), m_com},
                       {QStringLiteral("endpoint"), QStringLiteral("smpp")},
                       {QStringLiteral("kind"), QStringLiteral("alpha")},
                       {QStringLiteral("pin"), QString::fromLatin1(m->destination)},
                       {QStringLiteral("text"), text}});
}

}  // namespace vts::sim
