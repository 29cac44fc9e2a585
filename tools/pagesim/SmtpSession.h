#pragma once

#include "EndpointSession.h"

// A mail server taking pages (SMTP: EHLO/HELO, MAIL, RCPT, DATA, RSET,
// NOOP, QUIT) for one connection. Each mail is one page to the local part
// of its recipient, its text the mail's body (base64 bodies decoded).
// Lines must end in CR LF. Scenario behaviours: `reject-page[=PIN]` (550
// to RCPT), `drop-after=K` (the connection drops at the end of data after
// K pages), `hold-after=K`, `silent`/`dead`.
namespace vts::sim {

class SmtpSession final : public EndpointSession {
public:
    SmtpSession(int comPort, const Behaviour& behaviour, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;

private:
    void line(QByteArray text);
    void endOfData();
    void reply(const QByteArray& text) { m_out += text + "\r\n"; }

    bool m_inData = false;
    bool m_haveFrom = false;
    QByteArray m_data;
    QByteArray m_pin;
};

}  // namespace vts::sim
