#pragma once

#include "Line.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The client side of a paging-protocol call in automatic mode, over a line
// whose modem is already connected: probe for "ID=", log on, wait for the
// go-ahead, send transactions block by block, log off. The client holds the
// call's state: once the call is down (terminal disconnect, lost carrier,
// retries exhausted, stop request) every further page reports NotSent.
namespace vts {

struct TapTimings {
    double t1 = 2;       // between CR probes
    double t3 = 10;      // for every reply of the terminal
    int n1 = 3;          // CR probes
    int n2 = 3;          // resends of a block after no reply
    int n3 = 3;          // log-on attempts
    int nakResends = 3;  // resends of a block the terminal answered with NAK
};

class TapClient {
public:
    enum class Event {
        Ack,
        Nak,
        Rs,
        Disconnect,
        GoAhead,
        Id,
        CarrierLost,
        Timeout,
        Cancelled,
        LineError
    };
    enum class PageResult { Accepted, Rejected, NotSent };
    enum class LogOnResult { Accepted, Rejected, Failed };

    TapClient(Channel& channel, TapTimings timings) : m_channel(channel), m_t(timings) {}

    LogOnResult logOn(const QByteArray& password);
    // Sends one transaction's blocks (built by tap::buildBlocks).
    PageResult sendPage(const QList<QByteArray>& blocks);
    // Orderly end: EOT CR, then the terminal's disconnect.
    void logOff();

    bool callUp() const { return m_up; }
    bool carrierLost() const { return m_carrierLost; }
    bool cancelled() const { return m_cancelled; }
    // The terminal answered the log-off with RS: it rejected something it
    // had accepted during the call.
    bool withdrawn() const { return m_withdrawn; }
    // Why the call went down or a page failed, for the trace.
    QString reason() const { return m_reason; }
    // Response-code lines ("211 Page accepted") since the last send.
    const QList<QByteArray>& messages() const { return m_messages; }

    // Takes the next protocol event from `buffer`, consuming what it read;
    // false when the buffer holds no complete event yet. Text lines with a
    // three-digit code go to `messages`.
    static bool nextEvent(QByteArray& buffer, QByteArray& line, Event& event,
                          QList<QByteArray>& messages);

private:
    // How long after the log-on an "ID=" still counts as an earlier prompt
    // (the terminal's own deadline for answering a CR).
    static constexpr double kPromptEcho = 1.0;

    Event await(Deadline deadline);
    void down(const QString& why);

    Channel& m_channel;
    TapTimings m_t;
    QByteArray m_line;  // text of the line being received
    QList<QByteArray> m_messages;
    bool m_up = true;
    bool m_carrierLost = false;
    bool m_cancelled = false;
    bool m_withdrawn = false;
    QString m_reason;
};

}  // namespace vts
