#pragma once

#include "ResultJournal.h"
#include "Statuses.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace vts {

class EventLoop;
class StatusConditions;
struct PortRecord;

namespace db {
class Database;
}  // namespace db

// Records the result of a queued message: its log row's status, the move of
// its file from PENDING to SENT or FAILED, and a status line for anything
// that goes wrong. A result the log cannot take (the store locked, the disk
// full) is kept in the result journal and recorded once the log takes writes
// again, its file staying in PENDING meanwhile, so it is neither lost nor
// paged again. At start-up it reads the outcomes that port files of an
// earlier run still hold and hands each to the server's handler of its kind.
class ResultRecorder final {
public:
    // What the recorder needs from the server around it.
    class Host {
    public:
        virtual ~Host() = default;
        // The program ends: nothing more may be touched.
        virtual bool abandoned() const = 0;
        virtual void addStatus(const QString& text) = 0;
        // Queue folder + sub + name, resolved ignoring letter case.
        virtual QString queuePath(const QString& sub, const QString& name = QString()) const = 0;
        // An outcome an earlier run's port file holds, for the server's event
        // handler of its kind (the texts already trimmed).
        virtual void replayResult(LogStatus result, const QString& uniqueId, const QString& message,
                                  const QString& phoneNumber, const QString& pin,
                                  std::int16_t modemErrorFlag) = 0;
        // True: no new batch may be handed out (the journal has no room left
        // for their results).
        virtual void holdDispatch(bool held) = 0;
    };

    // How long, at most, a failing log is left before kept results are tried again.
    static constexpr double kJournalRetrySeconds = 5;
    // Free journal slots below which no new batch is handed out: the
    // results of a full send queue.
    static constexpr int kReserveHeadroom = 800;

    ResultRecorder(EventLoop& loop, StatusConditions& conditions, Host& host, QString workingDir);

    // The log store results are written to; null once the stores are closed,
    // after which nothing is recorded any more.
    void attach(db::Database* log) { m_log = log; }

    // ChangeLogStatus: the row of message `id` takes `status`; a result moves
    // its file (Sent to SENT, Failed and Cancelled to FAILED, others stay).
    void record(const QString& id, LogStatus status);

    // Reads the results an earlier run could not record and makes the
    // journal's reserve; false (with a status line) when there is no room.
    bool loadJournal();
    const ResultJournal& journal() const { return m_journal; }
    // Whether the message file `name` still waits for a result kept here
    // (its port was held at start-up, or its result is in the journal).
    bool holdsFile(const QString& name) const {
        return m_heldFiles.contains(name, Qt::CaseInsensitive) || m_journal.holdsFile(name);
    }
    // Records the kept results the log now takes.
    void applyJournal();
    // applyJournal, when results are kept and the last attempt is long enough ago.
    void applyJournalIfDue();

    // Moves the pending folder's message files back to the queue folder,
    // except those whose result is kept; with `report`, says how many.
    void returnPendingFiles(bool report);

    // The known outcomes in the port files of a run that ended without its
    // exit sequence. A port file a dialer of that run still holds is read
    // too, without waiting: its final records count at once, and the files
    // of its other messages stay in the pending folder (that dialer may
    // still deliver them) until takeReleasedPort().
    std::vector<PortRecord> readLeftOverResults();
    // A port file held at start-up was let go: its outcomes are recorded and
    // the files of its messages that did not go out return to the queue.
    void takeReleasedPort(int port, std::int32_t retries);
    // Hands each outcome whose log row still waits for one to the host; a
    // failed attempt that had retries left (of `retries`) is not an outcome.
    void applyLeftOverResults(const std::vector<PortRecord>& records, std::int32_t retries);

private:
    enum class RowUpdate { Done, NoRow, StoreError };
    // With `write` false only the row's file name is read and the update
    // counts as refused by the store.
    RowUpdate updateLogRow(qint64 id, LogStatus status, QString* name, QString* error, bool write);
    void watchReserve();
    void moveResultFile(const QString& name, LogStatus status);
    bool awaitsResult(qint64 id) const;
    QString fileOf(qint64 id) const;
    // Moves the named files from the pending folder back to the queue.
    int returnFiles(const QStringList& names);

    EventLoop& m_loop;
    StatusConditions& m_conditions;
    Host& m_host;
    QString m_workingDir;
    ResultJournal m_journal;
    db::Database* m_log = nullptr;
    std::optional<QDateTime> m_journalTried;  // last attempt the log refused, or journal retry
    QString m_lastError;                      // what the store said then
    bool m_reserveFull = false;
    // Per port index, the log IDs of messages a dialer of an earlier run
    // still held at start-up, with their outcome unknown.
    QHash<int, QStringList> m_heldIds;
    QStringList m_heldFiles;  // their message files, kept in the pending folder
};

}  // namespace vts
