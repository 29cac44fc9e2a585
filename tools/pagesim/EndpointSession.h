#pragma once

#include "Scenario.h"
#include "Session.h"

#include <QStringList>

#include <functional>

// What the network endpoints (SNPP, WCTP) share for one connection: whether
// the scenario lets the endpoint answer, the output not yet sent, the
// violations found, and the call record written when the connection ends.
namespace vts::sim {

class EndpointSession : public Session {
public:
    void tick(double) override {}
    double nextDeadline() const override;
    QByteArray takeOutput() override;
    bool wantsClose() const override { return m_close; }
    bool dropNow() const override { return m_drop; }
    void closed(double now) override;

protected:
    // `endpoint` names the endpoint in the call record ("snpp", "wctp").
    EndpointSession(QString endpoint, int comPort, const Behaviour& behaviour, double now,
                    Sink sink);
    // Records what the client did wrong (the first 50 things).
    void violation(const QString& what);
    // For the line protocols (SNPP, SMTP): hands each CRLF line of what has
    // arrived to `line` (a bare LF ends one too, and is noted); a line over
    // `maxLine` bytes is answered `tooLong` and ends the call.
    void receiveLines(const QByteArray& bytes, qsizetype maxLine, const char* tooLong,
                      const std::function<void(QByteArray)>& line);
    // Whether the scenario ends the call before the next page: dropped, or
    // no longer answered; says how the call ended.
    bool stopsBeforeNextPage();

    int m_com;
    Behaviour m_b;
    Sink m_sink;
    bool m_answering = true;
    QByteArray m_in, m_out;
    int m_pages = 0;
    bool m_close = false, m_drop = false;
    QString m_end;  // how the call ended, when the endpoint ended it

private:
    QString m_endpoint;
    double m_start;
    bool m_recorded = false;
    QStringList m_violations;
};

}  // namespace vts::sim
