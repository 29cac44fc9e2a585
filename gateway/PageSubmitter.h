#pragma once

#include "Accounts.h"
#include "GatewayConfig.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace vts {
class EventLoop;
}

namespace vts::gate {

// The gateway's log: one line per event on standard output (tests collect
// the lines instead). A line: "YYYY-MM-DD HH:MM:SS PROTOCOL PEER text".
class GatewayLog {
public:
    using Sink = std::function<void(const QString&)>;
    explicit GatewayLog(Sink sink = {});
    // `priority` is the journal's (3 error, 4 warning, 6 information); -1
    // takes warning for a refusal or a settings warning, else information.
    void write(const QString& protocol, const QString& peer, const QString& text,
               int priority = -1);

private:
    Sink m_sink;
};

// Pages per client address: a bucket of `perMinute` pages that refills at
// `perMinute` pages a minute, so a client may send a burst of that many and
// then that many a minute. 0 turns the limit off.
class RateLimiter {
public:
    // Takes `count` pages from the address's bucket; false (and nothing
    // taken, *waitSeconds set) when the bucket does not hold them.
    bool take(const QString& address, int count, int perMinute, const QDateTime& now,
              int* waitSeconds = nullptr);
    // Whether `count` pages could be taken now, taking nothing.
    bool has(const QString& address, int count, int perMinute, const QDateTime& now);

private:
    struct Bucket {
        double pages = 0;
        QDateTime at;
    };
    QHash<QString, Bucket> m_buckets;
};

// One page as a protocol hands it over.
struct PageOrder {
    QString protocol;  // "SNPP", "SMTP", "HTTP": also queue file line 5
    QString peer;      // client address, for the rate limit and the log
    QString sender;    // queue file line 4
    QStringList to;    // recipient or group names as the client wrote them
    QString user;      // the account that logged in, empty without one
    QString subject;
    QString text;
};

struct SubmitResult {
    enum class Status { Ok, UnknownRecipient, BadText, RateLimited, QueueUnavailable, Forbidden };
    Status status = Status::Ok;
    QStringList files;   // names written, in the order of `to`
    QString message;     // why not, for the client's reply
    int retryAfter = 0;  // seconds, for RateLimited
    bool ok() const { return status == Status::Ok; }
};

// What became of one page: its state, its log row once the server logged
// it, and the cause of a failure where one was recorded.
struct PageStatus {
    bool found = false;
    QString state;  // queued, pending, sent, failed, cancelled
    qint64 logId = 0;
    QString cause;
    QString delivery;  // what the network said of a sent page; empty: nothing kept
    QString deliveryReason;
};

// The first answer to an HTTP request with an Idempotency-Key.
struct StoredAnswer {
    QDateTime at;
    int status = 0;
    QByteArray body;
    QList<QByteArray> headers;
};

// Turns page orders into queue message files: one per recipient, through the
// shared queue-file writer, in the queue folder named by MessageQueueLocation
// in the configuration store of the working directory, read at every page.
class PageSubmitter {
public:
    PageSubmitter(QString workDir, ConfigSource& config, GatewayLog& log, EventLoop& loop);

    // Queues one file per distinct recipient, all or none.
    SubmitResult submit(const PageOrder& order);
    // A recipient by name for a protocol's early check (SNPP PAGE, SMTP
    // RCPT). A name not found costs the address one page of its rate, so
    // names cannot be tried out without limit; *limited tells that the
    // address is over its rate.
    // Returns the name as vtsgate.ini spells it (a recipient or a group),
    // or an empty text.
    QString lookup(const QString& peer, const QString& name, bool* limited);
    // Counts a failed login against the address's rate; false when the
    // address is over it.
    bool failedLogin(const QString& peer);
    // True when the address could not send one more page now: costly work
    // (reading a mail) is skipped then.
    bool overRate(const QString& peer);
    // The page of an ID (a queue file's name without ".PMF"): where its
    // file is, or what the log store says of it once the server logged it.
    PageStatus status(const QString& id);
    // The page ID of a queue file name.
    static QString pageId(const QString& fileName);
    // Answers remembered for 24 hours by Idempotency-Key (and account).
    const StoredAnswer* storedAnswer(const QString& key);
    void storeAnswer(const QString& key, const StoredAnswer& answer);
    // Removes the temporary files that gateways no longer running left in
    // `folder` (killed while writing); returns how many.
    static int removeStaleTemporaries(const QString& folder);
    // The queue folder now, or an empty text and *error.
    QString queueFolder(QString* error) const;
    // The page text a subject and a body make: accents composed (NFC),
    // white space runs (line breaks included) become one blank, control and
    // invisible format characters go, and a subject comes first followed by
    // ": ".
    static QString pageText(const QString& subject, const QString& body);
    // A header value: one line cleaned as above, at most `width` characters.
    static QString headerValue(const QString& value, int width);
    // Characters (not UTF-16 units) in a text.
    static qsizetype characters(const QString& text);

    ConfigSource& config() { return m_config; }
    GatewayLog& log() { return m_log; }
    EventLoop& loop() { return m_loop; }
    Accounts& accounts() { return m_accounts; }
    // The current settings, logging a reload when the file changed.
    const GatewayConfig& settings();

private:
    void keepUser(const QStringList& files, const PageOrder& order);

    QString m_workDir;
    ConfigSource& m_config;
    GatewayLog& m_log;
    EventLoop& m_loop;
    RateLimiter m_rate;
    Accounts m_accounts;
    QHash<QString, StoredAnswer> m_answers;
};

}  // namespace vts::gate
