#pragma once

#include "Line.h"

#include <QStringList>

#include <QString>

// A byte line over a TCP connection: the name is resolved by the system
// resolver and the connection made within a deadline, and both can be
// stopped by a stop request. Reads and writes behave as on a serial line;
// the peer closing the connection reads as Closed.
namespace vts {

// Waits for poll() `events` on `fd` until the deadline or a stop request:
// 1 ready, 0 the deadline passed, -1 stopped.
int waitForSocket(int fd, short events, Deadline deadline);

class TcpLine final : public LineDevice {
public:
    ~TcpLine() override;
    // False with a reason ("connection refused", "no answer within 10 s").
    bool connect(const QString& host, quint16 port, Deadline deadline, QString* error);
    // The addresses of `host` (numeric, IPv6 ones bracketed) by the same
    // bounded look-up; empty with a reason when there are none in time.
    static QStringList resolveHost(const QString& host, quint16 port, Deadline deadline,
                                   QString* error);
    void close();
    bool write(const QByteArray& bytes) override;
    LineWait read(QByteArray& out, Deadline deadline) override;
    bool pulseDtr(int) override { return false; }
    // Waits until the peer has closed its side or the deadline passes.
    bool awaitClose(Deadline deadline);

private:
    int m_fd = -1;
};

}  // namespace vts
