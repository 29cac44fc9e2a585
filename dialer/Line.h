#pragma once

#include "LineSettings.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace vts {

class TraceLog;

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;
Deadline deadlineIn(double seconds);
double secondsLeft(Deadline d);
// A poll() time-out reaching the deadline: at most ten seconds, 0 once it
// passed. Every wait of the dialer goes through it, so it also renews the
// run's sign of life (see heartbeat).
int pollTimeoutMs(Deadline deadline);

// The run's sign of life: the port file's time stamp, renewed at most every
// few seconds while the dialer waits, so the server can tell a dialer that
// waits for a slow line from one that hangs.
namespace heartbeat {
void setFile(const QString& path);
void beat();
}  // namespace heartbeat

// Outcome of waiting for bytes on a line.
enum class LineWait { Data, Timeout, Cancelled, Closed };

// A byte line to a modem. Reads wait until bytes arrive, a deadline passes
// or the process is asked to stop (see Cancellation); nothing busy-waits.
class LineDevice {
public:
    virtual ~LineDevice() = default;
    virtual bool write(const QByteArray& bytes) = 0;
    // Appends what arrived to `out`.
    virtual LineWait read(QByteArray& out, Deadline deadline) = 0;
    // Drops DTR for `ms` milliseconds, then raises it again; false when the
    // line has no modem-control signals (a pseudo-terminal).
    virtual bool pulseDtr(int ms) = 0;
};

// Stop requests from SIGTERM/SIGINT: the handler sets a flag and wakes any
// wait through a pipe. Waits report Cancelled while `watched()` is on; the
// dialer turns watching off for its orderly hang-up.
class Cancellation {
public:
    static void install();  // handlers for SIGTERM and SIGINT
    static bool requested();
    static int wakeFd();  // readable once a stop was requested (-1 before install)
    static void setWatched(bool on);
    static bool watched();
    static void request();  // as if a signal had arrived
};

// A serial device driven through termios: raw mode, the given line
// settings, exclusive use by one dialer at a time (an advisory lock, waited
// for while another dialer has the same device).
class SerialPort final : public LineDevice {
public:
    ~SerialPort() override;
    // Opens and configures the device; false with a reason on failure.
    bool open(const QString& path, const LineSettings& settings, double lockWaitSeconds,
              QString* error);
    void close();
    bool write(const QByteArray& bytes) override;
    LineWait read(QByteArray& out, Deadline deadline) override;
    bool pulseDtr(int ms) override;
    // What open() had to change in the settings to get the line, if anything.
    QString notice() const { return m_notice; }

private:
    int m_fd = -1;
    QString m_notice;
};

// The dialer's view of its line: a receive buffer of 7-bit bytes over a
// LineDevice, with every byte in either direction written to the trace.
class Channel {
public:
    Channel(LineDevice& device, TraceLog& trace) : m_device(device), m_trace(trace) {}
    bool send(const QByteArray& bytes);
    // Waits for more bytes (appended to buffer()); Data when some arrived.
    LineWait receive(Deadline deadline);
    QByteArray& buffer() { return m_buffer; }
    void discardInput() { m_buffer.clear(); }
    LineDevice& device() { return m_device; }
    TraceLog& trace() { return m_trace; }

private:
    LineDevice& m_device;
    TraceLog& m_trace;
    QByteArray m_buffer;
};

}  // namespace vts
