#pragma once

#include "EndpointSession.h"

#include <QHash>
#include <QMap>

// An SMS centre over SMPP 3.4 for one connection: takes any bind
// (transmitter, transceiver, receiver), answers submit_sm with ESME_ROK
// and a message ID (followed, when the submit asks for a receipt and the
// session binds to receive, by a deliver_sm receipt: DELIVRD), enquire_link
// and unbind; joins the parts of a
// concatenated text (by reference) before recording the page. A PDU it
// cannot read is answered with generic_nack and recorded as a violation.
// Scenario behaviours: `reject-page[=PIN]` (ESME_RINVDSTADR),
// `drop-after=K` (the connection drops at the submit after K pages),
// `hold-after=K`, `silent`/`dead`.
namespace vts::sim {

class SmppSession final : public EndpointSession {
public:
    SmppSession(int comPort, const Behaviour& behaviour, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;

private:
    void submit(std::uint32_t sequence, const QByteArray& body);
    void respond(std::uint32_t command, std::uint32_t status, std::uint32_t sequence,
                 const QByteArray& body = {});

    bool m_bound = false;
    bool m_receiving = false;  // bound as a transceiver or receiver
    int m_ids = 0;
    std::uint32_t m_sequence = 0;  // of the centre's own requests
    // Parts of concatenated texts, by destination and reference.
    QHash<QByteArray, QMap<int, QString>> m_parts;
};

}  // namespace vts::sim
