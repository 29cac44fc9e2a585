#pragma once

#include "ResultJournal.h"
#include "Statuses.h"

#include <QDateTime>
#include <QString>

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
    };

    // How long, at most, a failing log is left before kept results are tried again.
    static constexpr double kJournalRetrySeconds = 30;

    ResultRecorder(EventLoop& loop, StatusConditions& conditions, Host& host, QString workingDir);

    // The log store results are written to; null once the stores are closed,
    // after which nothing is recorded any more.
    void attach(db::Database* log) { m_log = log; }

    // ChangeLogStatus: the row of message `id` takes `status`; a result moves
    // its file (Sent to SENT, Failed and Cancelled to FAILED, others stay).
    void record(const QString& id, LogStatus status);

    // Reads the results an earlier run could not record.
    void loadJournal() { m_journal.load(); }
    // Records the kept results the log now takes.
    void applyJournal();
    // applyJournal, when results are kept and the last attempt is long enough ago.
    void applyJournalIfDue();

    // Moves the pending folder's message files back to the queue folder,
    // except those whose result is kept; with `report`, says how many.
    void returnPendingFiles(bool report);

    // The known outcomes in the port files of a run that ended without its
    // exit sequence, each read once its dialer has let go of it (waiting up
    // to `dialerStopSeconds` from the first).
    std::vector<PortRecord> readLeftOverResults(double dialerStopSeconds);
    // Hands each outcome whose log row still waits for one to the host; a
    // failed attempt that had retries left (of `retries`) is not an outcome.
    void applyLeftOverResults(const std::vector<PortRecord>& records, std::int32_t retries);

private:
    enum class RowUpdate { Done, NoRow, StoreError };
    RowUpdate updateLogRow(qint64 id, LogStatus status, QString* name, QString* error);
    void moveResultFile(const QString& name, LogStatus status);
    bool awaitsResult(qint64 id) const;

    EventLoop& m_loop;
    StatusConditions& m_conditions;
    Host& m_host;
    QString m_workingDir;
    ResultJournal m_journal;
    db::Database* m_log = nullptr;
    std::optional<QDateTime> m_journalTried;  // last attempt to record kept results
};

}  // namespace vts
