#pragma once

#include "Scenario.h"
#include "TapTerminal.h"

#include <QByteArray>
#include <QJsonObject>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

// A simulated Hayes modem on one COM port: interprets AT command lines,
// "dials" (the scenario decides what the number does), and in data mode
// carries bytes to and from a TapTerminal. Returns to command mode by the
// escape sequence with guard times or when the terminal drops the call.
// With a bit rate set for the call, bytes in both directions take their
// real time on the simulated line. Times are seconds on any steady clock.
namespace vts::sim {

class SimModem {
public:
    // Called for every accepted page and every finished call.
    using Sink = std::function<void(const QString& kind, QJsonObject record)>;

    SimModem(int comPort, const Scenario& scenario, TapTerminal::Timings timings, double guard,
             Sink sink);

    void receive(const QByteArray& bytes, double now);
    void tick(double now);
    double nextDeadline() const;
    // Bytes due on the line by `now`.
    QByteArray takeOutput(double now);
    bool inCall() const { return m_terminal != nullptr; }
    // The dialer closed the device: DTR drops, which hangs up (as with &D2).
    void lineClosed(double now);

private:
    enum class Mode { Command, Dialing, Data };
    void commandLine(const QByteArray& line, double now);
    void dial(const QByteArray& rest, double now);
    void result(int code, const char* text, double now);
    void queueOut(const QByteArray& bytes, double now, bool paced);
    void feedTerminal(char c, double now);
    void pumpTerminal(double now);
    void endCall(const QString& how, double now, bool sayNoCarrier);
    void reset();

    int m_com;
    const Scenario& m_scenario;
    TapTerminal::Timings m_timings;
    double m_guard;
    Sink m_sink;

    Mode m_mode = Mode::Command;
    bool m_echo = true, m_verbose = true, m_quiet = false;
    QByteArray m_cmd;

    std::unique_ptr<TapTerminal> m_terminal;
    Behaviour m_call;
    QByteArray m_number;
    double m_callStart = 0, m_lastTerminalByte = 0;
    qint64 m_bytesIn = 0, m_bytesOut = 0;

    std::deque<std::pair<double, char>> m_out, m_in;  // paced bytes with due times
    double m_txFree = 0, m_rxFree = 0;
    double m_lastRx = -1e9;
    int m_plus = 0;
    double m_escapeAt = kNever;
};

}  // namespace vts::sim
