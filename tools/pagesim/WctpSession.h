#pragma once

#include "EndpointSession.h"

// A WCTP endpoint for one HTTP connection (kept alive across requests):
// takes POSTed wctp-SubmitRequest operations and answers each with a
// wctp-Confirmation. Scenario behaviours: `password=PW` (the originator's
// securityCode), `reject-page[=PIN]` (403 invalid recipientID),
// `drop-after=K` (the endpoint drops the connection at the request after
// K pages and every connection after that: HTTP clients reconnect),
// `hold-after=K` and `silent`/`dead` (no answer).
namespace vts::sim {

class WctpSession final : public EndpointSession {
public:
    // What the endpoint keeps across connections.
    struct PortState {
        int pages = 0;
        bool down = false;
    };
    WctpSession(int comPort, const Behaviour& behaviour, PortState& port, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;

    struct Submission {
        QString senderId, securityCode, recipientId, messageId, text;
    };
    // Reads a wctp-SubmitRequest; nullopt with a reason otherwise.
    static std::optional<Submission> parseSubmit(const QByteArray& xml, QString* error);
    static QByteArray confirmation(bool success, int code, const QString& text);

private:
    void request(const QByteArray& method, const QByteArray& body);
    void respond(int status, const QByteArray& reason, const QByteArray& body);

    PortState& m_port;
};

}  // namespace vts::sim
