#pragma once

#include <QDateTime>
#include <QString>

#include <QSet>
#include <QStringList>
#include <optional>

class PagerOCX;

namespace vts {

class EventLoop;
class StatusConditions;
struct QueueMessage;

namespace db {
class Recordset;
}  // namespace db

// The queue check's intake: lists the queue folder, takes each collectable
// file (read, checked, registered, logged, moved to PENDING, handed to the
// pager control), sets odd entries aside with one status line each, and
// refuses file pages outside the allowed folders. The server around it
// decides when a scan runs and owns the stores, the control and the status
// list; everything happens on the server's thread, interleaving only at the
// yields, after each of which the scan stops if the host says so.
class QueueScanner final {
public:
    // What the scanner needs from the server around it.
    class Host {
    public:
        virtual ~Host() = default;
        // The program ends or an exit was asked for: the scan stops.
        virtual bool stopRequested() const = 0;
        // The program ends: nothing more may be touched.
        virtual bool abandoned() const = 0;
        // Re-reads the settings; false when the program must end.
        virtual bool LoadConfig() = 0;
        virtual void addStatus(const QString& text) = 0;
        virtual void applyPagerSettings() = 0;
        // A message that ends as failed without being submitted.
        virtual void messageFailed(const QString& id, const QueueMessage& message) = 0;
        // Why such a message failed, told just before messageFailed.
        virtual void messageCause(const QString& id, const QString& cause) {
            (void)id, (void)cause;
        }
        // A message handed to the pager control under log row `id`.
        virtual void messageSubmitted(const QString& id) { (void)id; }
        // Queue folder + sub + name, resolved ignoring letter case.
        virtual QString queuePath(const QString& sub, const QString& name = QString()) const = 0;
    };

    QueueScanner(EventLoop& loop, StatusConditions& conditions, Host& host, QString workingDir);

    // The client table, the log table and the control a scan writes to.
    void attach(db::Recordset* clients, db::Recordset* log, PagerOCX* pager);

    // One pass over the queue folder. False when it stopped early (the host
    // asked, or the settings could not be re-read). Files named in `leave`
    // (a writer still has them open) are left for a later pass.
    bool scan(const QSet<QString>& leave = {});
    // Whether the last pass stopped because the pager control's queue was
    // full: files wait in the queue folder until slots free.
    bool stoppedFull() const { return m_stoppedFull; }

    // The file a scan is between logging and handing over (empty when none).
    const QString& inHand() const { return m_inHand; }

private:
    // False when the log refused the new row (the store takes no writes).
    bool takeFile(const QString& name);
    bool registerClient(const QueueMessage& msg);
    // Submits a page; a file page or a text longer than a port record goes
    // through a copy in the server's own folder. False when the message
    // ended without a submission.
    bool submitFilePage(const QString& name, const QueueMessage& msg, qint64 id);
    void failMessage(const QueueMessage& msg, qint64 id, const QString& why);

    EventLoop& m_loop;
    StatusConditions& m_conditions;
    Host& m_host;
    QString m_workingDir;
    db::Recordset* m_clients = nullptr;
    db::Recordset* m_log = nullptr;
    PagerOCX* m_pager = nullptr;
    static constexpr double kLogRetrySeconds = 5;
    // When the log last refused a new row: intake waits a while before the
    // next attempt, so a held store costs one short wait now and then.
    std::optional<QDateTime> m_logRefused;
    QString m_inHand;
    bool m_stoppedFull = false;
};

}  // namespace vts
