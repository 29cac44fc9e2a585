#pragma once

#include <PortRecord.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

// How one run reaches the paging service. A COM port's entry in calvex.ini
// names a modem device or one of the network and SMS kinds (see
// PortKinds.h); each kind is one Transport that takes the batch's pages and
// reports the fate of each as soon as it is known.
namespace vts {

class TcpLine;
class TraceLog;
struct DialerOptions;

// What a COM port's entry in calvex.ini points at.
struct PortTarget {
    // One row per kind in PortKinds.cpp; Count must stay last.
    enum class Kind { Modem, TapTcp, Snpp, Wctp, Gsm, Smtp, Smpp, Smpps, Count };
    Kind kind = Kind::Modem;
    QString device;  // Modem and Gsm: the serial device
    QString host;    // TapTcp, Snpp, Smtp, Smpp and Smpps
    quint16 port = 0;
    QString url;  // Wctp

    // "tcp:HOST:PORT", "snpp:HOST:PORT", "wctp:http(s)://...", "gsm:/dev/ttyX"
    // or a device path; nullopt with a reason naming the entry when malformed.
    static std::optional<PortTarget> parse(const QString& entry, QString* error);
    // The target in words for the trace ("SNPP server at HOST port N").
    QString describe() const;
};

// One message of the batch as the transports see it.
struct Page {
    int record = 0;  // record number in the port file
    PortRecord rec;
    QString pin;               // the record's PIN, trimmed
    QString text;              // message, file content or digits: LF breaks, no trailing blanks
    QList<QByteArray> blocks;  // the paging-protocol transaction (alphanumeric and file pages)
    QByteArray digits;         // numeric pages: the DTMF digits
    std::int16_t status = 1;

    bool waiting() const { return status == static_cast<std::int16_t>(PortStatus::Busy); }
    bool numeric() const { return rec.kind == PageKind::Numeric; }
};

// Where a transport reports: writes each status into the port file at once.
class Batch {
public:
    virtual ~Batch() = default;
    // `final`: the service refused the page for itself, a retry cannot
    // deliver it.
    virtual void setStatus(Page& page, PortStatus status, const QString& why,
                           bool final = false) = 0;
    // The port itself failed: it could not reach its carrier, or must not be
    // used until its settings change.
    virtual void portFault(bool unusable, const QString& why) = 0;
    virtual TraceLog& trace() = 0;
    // The carrier took `page` as `messageIds` (one per part) and will send
    // a receipt for each.
    virtual void awaitReceipts(Page& /*page*/, const QStringList& /*messageIds*/) {}
    // The network's receipt for the part sent as `messageId`; `reason` is
    // its state and error code when not delivered.
    virtual void receipt(const QString& /*messageId*/, bool /*delivered*/,
                         const QString& /*reason*/) {}
};

// What one page's exchange came to.
struct Outcome {
    enum class Kind {
        Status,   // write `status` with `why`
        Written,  // the transport already wrote the page's status
        Down,     // the line is lost: this page and the rest are not confirmed
    };
    Kind kind = Kind::Status;
    PortStatus status = PortStatus::Failed;
    QString why;
    bool final = false;     // refused for good: no retry can deliver it
    bool answered = false;  // Written: the carrier answered the page

    static Outcome sent() { return {Kind::Status, PortStatus::Sent, {}}; }
    static Outcome refused(const QString& why) {
        return {Kind::Status, PortStatus::Failed, why, true};
    }
    static Outcome failed(const QString& why) { return {Kind::Status, PortStatus::Failed, why}; }
    static Outcome with(PortStatus s, const QString& why) { return {Kind::Status, s, why}; }
    static Outcome written(bool answered = false) {
        return {Kind::Written, PortStatus::Failed, {}, false, answered};
    }
    static Outcome down(const QString& why) { return {Kind::Down, PortStatus::Failed, why}; }
};

// The skeleton every kind shares: deliver() takes the pages the kind can
// send, opens the connection, runs one exchange per page in order, closes,
// and fails every page still waiting (Cancelled after a stop request, else
// Failed with the first reason given, "not confirmed" without one). A run
// in which the carrier answered no page at all (no connection, TLS, modem
// error, no carrier, no log-on, a time-out before the first reply) tells the
// batch the port could not reach its carrier. A kind supplies only its own
// steps.
class Transport {
public:
    Transport(PortTarget target, const DialerOptions& options)
        : m_target(std::move(target)), m_opt(options) {}
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    virtual PortTarget::Kind kind() const = 0;
    // Delivers `pages` (all of one batch, first text record's settings in
    // `call`) and writes each page's status to `batch`.
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch);
    QString reason() const { return m_reason; }

protected:
    // The pages this kind can send, in the order to send them; refuses the
    // others through batch(). All of them, as they come, by default.
    virtual QList<Page*> take(const QList<Page*>& pages) { return pages; }
    // Connects and readies the line for `pages`; false when nothing can be
    // sent (the reason set, or statuses written).
    virtual bool open(const QList<Page*>& pages) = 0;
    virtual Outcome send(Page& page) = 0;
    // Ends the connection after the last exchange (also after a lost line).
    virtual void close(const QList<Page*>& pages) = 0;

    // Connects `line` to the target's host and port within the call's
    // time-out, tracing the attempt for `pages` pages; false with the
    // reason set and traced when no connection was made.
    bool connectTcp(TcpLine& line, qsizetype pages);
    // Writes `status` to every page of `pages` still waiting.
    void failWaiting(const QList<Page*>& pages, PortStatus status, const QString& why);
    // Keeps the first reason given: the cause, not its consequences.
    void setReason(const QString& why) {
        if (m_reason.isEmpty()) {
            m_reason = why;
        }
    }
    // Binds the transport to `batch` outside deliver() (a receiver).
    void attach(Batch& batch, double timeout) {
        m_batch = &batch;
        m_timeout = timeout;
    }
    // The carrier answered something of this batch (for kinds that write
    // statuses themselves, as replies come in).
    void noteAnswered() { m_answered = true; }
    Batch& batch() { return *m_batch; }
    TraceLog& trace();
    const PortRecord& call() const { return *m_call; }
    double timeout() const { return m_timeout; }

    const PortTarget m_target;
    const DialerOptions& m_opt;

private:
    QString m_reason;
    Batch* m_batch = nullptr;
    const PortRecord* m_call = nullptr;
    double m_timeout = 60;
    bool m_answered = false;
};

// The record's Timeout in seconds: 0 or less means 60, at most 300.
double callTimeout(const PortRecord& call);

}  // namespace vts
