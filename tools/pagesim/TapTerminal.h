#pragma once

#include "Scenario.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>

// A strict paging terminal for one call in automatic mode: answers CR
// probes with "ID=", checks the log-on (and a password when one is
// required), checks every block's checksum, size, transparency and field
// layout, and accepts a transaction only when it holds exactly a pager ID
// and a message. Scenario behaviours (rejections, NAKs, noise, drops) are
// applied on top. Pure logic: bytes in, bytes out, times passed in.
namespace vts::sim {

struct AcceptedPage {
    QByteArray pin;
    QByteArray text;
};

class TapTerminal {
public:
    struct Timings {
        double t4 = 4;          // wait for the client's next transaction
        double t5 = 8;          // wait for a log-on after ID=
        int n3 = 3;             // ID= sends before giving up
        double probeWait = 20;  // wait for the first CR probe
    };

    TapTerminal(Behaviour behaviour, Timings timings, double now);

    void receive(char byte, double now);
    void tick(double now);
    double nextDeadline() const { return m_deadline; }

    QByteArray takeOutput();
    QList<AcceptedPage> takePages();
    // The terminal is done with the call: drop carrier once the output has
    // gone out (immediately when dropNow()).
    bool finished() const { return m_state == State::Done; }
    bool dropNow() const { return m_dropNow; }
    QString endReason() const { return m_endReason; }
    int logons() const { return m_logons; }
    int pagesAccepted() const { return m_pages; }
    // What the client did that the protocol forbids, in order.
    const QStringList& violations() const { return m_violations; }

private:
    enum class State { AwaitProbe, AwaitLogon, Transactions, Hold, Done };
    void reply(const QByteArray& bytes);
    void end(const QByteArray& bytes, const QString& reason);
    void handleLogon(const QByteArray& line, double now);
    void handleBlock(double now);
    void rejectTransaction(const QByteArray& message);
    void resetTransaction();
    void violation(const QString& what);
    void junk(const QByteArray& bytes);

    Behaviour m_b;
    Timings m_t;
    State m_state = State::AwaitProbe;
    double m_deadline;
    QByteArray m_out;
    QByteArray m_line;
    QByteArray m_block;
    bool m_inBlock = false;
    bool m_blockHighBit = false;
    bool m_sawEot = false;
    QList<QByteArray> m_fields;  // complete fields of the open transaction
    QByteArray m_field;          // field continued across a US block
    bool m_nakDone = false;
    int m_checksumErrors = 0;
    int m_idSent = 0;
    int m_badLogons = 0;
    int m_logons = 0;
    int m_pages = 0;
    bool m_dropNow = false;
    QString m_endReason;
    QList<AcceptedPage> m_accepted;
    QStringList m_violations;
};

inline constexpr double kNever = std::numeric_limits<double>::infinity();

}  // namespace vts::sim
