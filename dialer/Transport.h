#pragma once

#include "TapClient.h"

#include <PortRecord.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// How one run reaches the paging service. A COM port's entry in calvex.ini
// names a modem device or one of the network and SMS kinds; each kind is
// one Transport that takes the batch's pages and reports the fate of each
// as soon as it is known.
namespace vts {

class TcpLine;
class TraceLog;
struct DialerOptions;

// What a COM port's entry in calvex.ini points at.
struct PortTarget {
    enum class Kind { Modem, TapTcp, Snpp, Wctp, Gsm };
    Kind kind = Kind::Modem;
    QString device;  // Modem and Gsm: the serial device
    QString host;    // TapTcp and Snpp
    quint16 port = 0;
    QString url;  // Wctp

    // "tcp:HOST:PORT", "snpp:HOST:PORT", "wctp:http(s)://...", "gsm:/dev/ttyX"
    // or a device path; nullopt with a reason for a malformed entry.
    static std::optional<PortTarget> parse(const QString& entry, QString* error);
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
    bool numeric() const { return rec.kind == 1; }
};

// Where a transport reports: writes each status into the port file at once.
class Batch {
public:
    virtual ~Batch() = default;
    virtual void setStatus(Page& page, PortStatus status, const QString& why) = 0;
    virtual TraceLog& trace() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Delivers `pages` (all of one batch, first record's settings in
    // `call`) and reports each page's fate to `batch`. Pages still waiting
    // when it returns were not confirmed; the dialer fails them with
    // `reason()` (or cancels them after a stop request).
    virtual void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) = 0;
    QString reason() const { return m_reason; }

    static std::unique_ptr<Transport> create(const PortTarget& target,
                                             const DialerOptions& options);

protected:
    // Connects `line` to the target's host and port within `timeout`
    // seconds, tracing the attempt for `pages` pages; false with the
    // reason set and traced when no connection was made.
    bool connectTcp(TcpLine& line, const PortTarget& target, qsizetype pages, double timeout,
                    TraceLog& trace);
    // Keeps the first reason given: the cause, not its consequences.
    void setReason(const QString& why) {
        if (m_reason.isEmpty()) {
            m_reason = why;
        }
    }

private:
    QString m_reason;
};

// The record's Timeout in seconds: 0 or less means 60, at most 300.
double callTimeout(const PortRecord& call);

// One paging-protocol session over a connected line: log on, one
// transaction per page, log off; a rejection after the log-off fails the
// pages the call had delivered.
struct TapSessionEnd {
    QString reason;  // why the call went down
    bool carrierLost = false;
};
TapSessionEnd deliverTapSession(Channel& channel, const TapTimings& timings,
                                const QByteArray& password, const QList<Page*>& pages,
                                Batch& batch);

}  // namespace vts
