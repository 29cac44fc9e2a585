#pragma once

#include "EndpointSession.h"

// An SNPP server (RFC 1861 levels 1 and 2: PAGE, MESS, DATA, SEND, RESE,
// QUIT, LEVE, HELP) for one connection. Strict about what a client sends:
// lines must end in CR LF and carry 7-bit text; anything else is refused
// and recorded as a violation. Scenario behaviours: `password=PW` (the
// PAGE password), `reject-page[=PIN]`, `drop-after=K` (the connection
// drops at the SEND after K pages), `hold-after=K`, `silent`/`dead`.
namespace vts::sim {

class SnppSession final : public EndpointSession {
public:
    SnppSession(int comPort, const Behaviour& behaviour, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;

private:
    void line(QByteArray text);
    void reply(const QByteArray& text) { m_out += text + "\r\n"; }

    bool m_inData = false;
    QByteArray m_data;
    QByteArray m_pin;
    bool m_havePin = false;
    std::optional<QByteArray> m_message;
};

}  // namespace vts::sim
