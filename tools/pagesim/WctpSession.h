#pragma once

#include "Scenario.h"
#include "Session.h"

#include <QStringList>

// A WCTP endpoint for one HTTP connection (kept alive across requests):
// takes POSTed wctp-SubmitRequest operations and answers each with a
// wctp-Confirmation. Scenario behaviours: `password=PW` (the originator's
// securityCode), `reject-page[=PIN]` (403 invalid recipientID),
// `drop-after=K` (the endpoint drops the connection at the request after
// K pages and every connection after that: HTTP clients reconnect),
// `hold-after=K` and `silent`/`dead` (no answer).
namespace vts::sim {

class WctpSession final : public Session {
public:
    // What the endpoint keeps across connections.
    struct PortState {
        int pages = 0;
        bool down = false;
    };
    WctpSession(int comPort, const Behaviour& behaviour, PortState& port, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;
    void tick(double) override {}
    double nextDeadline() const override;
    QByteArray takeOutput() override;
    bool wantsClose() const override { return m_close; }
    bool dropNow() const override { return m_drop; }
    void closed(double now) override;

    struct Submission {
        QString senderId, securityCode, recipientId, messageId, text;
    };
    // Reads a wctp-SubmitRequest; nullopt with a reason otherwise.
    static std::optional<Submission> parseSubmit(const QByteArray& xml, QString* error);
    static QByteArray confirmation(bool success, int code, const QString& text);

private:
    void request(const QByteArray& method, const QByteArray& body);
    void respond(int status, const QByteArray& reason, const QByteArray& body);
    void violation(const QString& what);

    int m_com;
    Behaviour m_b;
    PortState& m_port;
    Sink m_sink;
    double m_start;
    bool m_answering = true;
    QByteArray m_in, m_out;
    int m_pages = 0;
    bool m_close = false, m_drop = false, m_recorded = false;
    QString m_end;
    QStringList m_violations;
};

}  // namespace vts::sim
