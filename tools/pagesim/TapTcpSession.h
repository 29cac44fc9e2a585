#pragma once

#include "Scenario.h"
#include "Session.h"
#include "TapTerminal.h"

#include <memory>

// A paging terminal on a TCP port: the connection stands for the call, so
// the strict terminal starts at once (waiting for the CR probe) and
// closing the connection ends the call. `silent` or `dead` accept the
// connection and never answer.
namespace vts::sim {

class TapTcpSession final : public Session {
public:
    TapTcpSession(int comPort, const Behaviour& behaviour, TapTerminal::Timings timings, double now,
                  Sink sink);
    void receive(const QByteArray& bytes, double now) override;
    void tick(double now) override;
    double nextDeadline() const override;
    QByteArray takeOutput() override;
    bool wantsClose() const override { return m_terminal && m_terminal->finished(); }
    bool dropNow() const override { return m_terminal && m_terminal->dropNow(); }
    void closed(double now) override;

private:
    void pump();
    int m_com;
    Sink m_sink;
    std::unique_ptr<TapTerminal> m_terminal;  // null: never answers
    QByteArray m_out;
    double m_start;
    qint64 m_in = 0, m_sent = 0;
    bool m_recorded = false;
};

}  // namespace vts::sim
