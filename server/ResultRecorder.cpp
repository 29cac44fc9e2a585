#include "ResultRecorder.h"

#include "Conversions.h"
#include "Database.h"
#include "EventLoop.h"
#include "FilePages.h"
#include "Paths.h"
#include "PortRecord.h"
#include "PortRecovery.h"
#include "QueueEntries.h"
#include "RowEdit.h"
#include "StatusConditions.h"

#include <QDir>
#include <QFileInfo>

namespace vts {

namespace {

const QString kPending = QStringLiteral("\\PENDING\\");
const QString kSent = QStringLiteral("\\SENT\\");
const QString kFailed = QStringLiteral("\\FAILED\\");

bool isResult(LogStatus s) {
    return s == LogStatus::Sent || s == LogStatus::Failed || s == LogStatus::Cancelled;
}

bool existsOrDangles(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

}  // namespace

ResultRecorder::ResultRecorder(EventLoop& loop, StatusConditions& conditions, Host& host,
                               QString workingDir)
    : m_loop(loop),
      m_conditions(conditions),
      m_host(host),
      m_workingDir(std::move(workingDir)),
      m_journal(m_workingDir) {}

ResultRecorder::RowUpdate ResultRecorder::updateLogRow(qint64 rowId, LogStatus status,
                                                       QString* name, QString* error) {
    try {
        auto rs = m_log->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), rowId);
        if (!rs || rs->eof()) {
            return RowUpdate::NoRow;
        }
        *name = rs->text(QStringLiteral("UniqueID"));
        db::RowEdit row(*rs, db::RowEdit::Mode::Edit);
        row.set(QStringLiteral("Status"), toInt(status));
        row.set(QStringLiteral("StatusDescription"), QString());
        row.commit();
    } catch (const db::DbError& e) {
        *error = e.message();
        return RowUpdate::StoreError;
    }
    return RowUpdate::Done;
}

void ResultRecorder::record(const QString& id, LogStatus status) {
    if (!m_log) {
        return;  // the stores are closed: nothing is recorded any more
    }
    bool isNumber = false;
    const qint64 rowId = id.toLongLong(&isNumber);
    QString name, error;
    const RowUpdate r =
        isNumber && rowId > 0 ? updateLogRow(rowId, status, &name, &error) : RowUpdate::NoRow;
    if (r == RowUpdate::NoRow) {
        m_host.addStatus(QStringLiteral("Error: no log entry for message ID=") + id);
        return;
    }
    if (isResult(status)) {
        filepages::remove(m_workingDir, rowId);
    }
    if (r == RowUpdate::StoreError) {
        // Kept, in memory and in the journal file, and recorded once the log
        // takes writes again; the message file stays in the pending folder
        // meanwhile and is not paged again.
        const bool kept = m_journal.add({rowId, status, name});
        m_host.addStatus(QStringLiteral("Error: the log entry of message ID=") + id +
                         QStringLiteral(" cannot be updated: ") + error +
                         (kept ? QStringLiteral("; the result is kept in ") +
                                     QLatin1String(ResultJournal::kFileName) +
                                     QStringLiteral(" and recorded when the log takes writes again")
                               : QStringLiteral("; the result is kept until the log takes writes "
                                                "again, but it cannot be written to ") +
                                     QLatin1String(ResultJournal::kFileName)));
        return;
    }
    m_loop.yield();
    moveResultFile(name, status);
}

void ResultRecorder::moveResultFile(const QString& name, LogStatus status) {
    if (!isResult(status)) {
        return;
    }
    const QString target = status == LogStatus::Sent ? kSent : kFailed;
    const QString from = m_host.queuePath(kPending, name);
    const QString to = m_host.queuePath(target, name);
    const QString folder = target.mid(1, target.size() - 2);
    if (name.isEmpty() || !existsOrDangles(from)) {
        m_host.addStatus(QStringLiteral("Error: message file ") + name +
                         QStringLiteral(" is not in the pending folder"));
    } else if (existsOrDangles(to)) {
        m_host.addStatus(QStringLiteral("Error: a file named ") + name +
                         QStringLiteral(" is already in the ") + folder +
                         QStringLiteral(" folder"));
    } else if (!queueentries::move(from, to)) {
        m_host.addStatus(QStringLiteral("Error: message file ") + name +
                         QStringLiteral(" cannot be moved to the ") + folder +
                         QStringLiteral(" folder"));
    }
}

void ResultRecorder::applyJournalIfDue() {
    // A log that takes no writes makes every attempt wait for the store's
    // busy time, so kept results are retried only every so often.
    if (!m_journal.isEmpty() &&
        (!m_journalTried ||
         EventLoop::secondsBetween(*m_journalTried, m_loop.now()) >= kJournalRetrySeconds)) {
        applyJournal();
    }
}

void ResultRecorder::applyJournal() {
    if (!m_log) {
        return;
    }
    m_journalTried = m_loop.now();
    const QList<ResultJournal::Entry> entries = m_journal.entries();
    for (const ResultJournal::Entry& e : entries) {
        QString name, error;
        const RowUpdate r = updateLogRow(e.id, e.status, &name, &error);
        if (r == RowUpdate::StoreError) {
            m_conditions.raise(QStringLiteral("journal"),
                               QStringLiteral("Error: %1 kept result(s) cannot be recorded yet: ")
                                       .arg(entries.size()) +
                                   error,
                               QString());
            return;  // the log still takes no writes; tried again at the next check
        }
        m_journal.remove(e.id);
        if (r == RowUpdate::NoRow) {
            m_host.addStatus(QStringLiteral("Error: no log entry for message ID=%1").arg(e.id));
            continue;
        }
        m_host.addStatus(
            QStringLiteral("The kept result of message ID=%1 is now recorded in the log")
                .arg(e.id));
        moveResultFile(name.isEmpty() ? e.name : name, e.status);
    }
    m_conditions.clear(QStringLiteral("journal"));
}

void ResultRecorder::returnPendingFiles(bool report) {
    bool ok = false;
    const QStringList names =
        paths::listFiles(m_host.queuePath(kPending), QStringLiteral("*.PMF"), &ok);
    int moved = 0;
    for (const QString& f : names) {
        if (m_journal.holdsFile(f)) {
            continue;  // its result is known; it waits for the log, not for a new send
        }
        if (queueentries::move(m_host.queuePath(kPending, f),
                               m_host.queuePath(QStringLiteral("\\"), f))) {
            ++moved;
        } else {
            m_host.addStatus(QStringLiteral("Error: ") + f +
                             QStringLiteral(" cannot be put back into the queue folder"));
        }
    }
    if (report && moved > 0) {
        m_host.addStatus(
            QStringLiteral("Returned %1 message file(s) from the pending folder to the queue")
                .arg(moved));
    }
}

std::vector<PortRecord> ResultRecorder::readLeftOverResults(double dialerStopSeconds) {
    std::vector<PortRecord> out;
    const QDir dir(m_workingDir);
    const QDateTime from = m_loop.now();
    for (int p = 1; p <= portfile::kPortFiles; ++p) {
        const QString path = dir.filePath(portfile::fileName(p));
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        // A dialer of the run that ended is stopped by its server's end; it
        // hangs up and marks what it had not finished, then lets go.
        PortLock lock(m_workingDir, p);
        while (!lock.tryLock() &&
               EventLoop::secondsBetween(from, m_loop.now()) < dialerStopSeconds) {
            m_loop.waitFor(0.25);
            if (m_host.abandoned()) {
                return out;
            }
        }
        if (!lock.held()) {
            continue;  // the pager control leaves this port alone and says so
        }
        for (PortRecord& rec : portrecovery::knownOutcomes(path)) {
            out.push_back(std::move(rec));
        }
    }
    return out;
}

bool ResultRecorder::awaitsResult(qint64 id) const {
    try {
        auto rs = m_log->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), id);
        return rs && !rs->eof() &&
               rs->value(QStringLiteral("Status")).toInt() == toInt(LogStatus::Waiting);
    } catch (const db::DbError&) {
        return false;  // unknown: the file goes back to the queue
    }
}

void ResultRecorder::applyLeftOverResults(const std::vector<PortRecord>& records,
                                          std::int32_t retries) {
    for (const PortRecord& rec : records) {
        if (m_host.abandoned()) {
            return;
        }
        const QString uid = conv::trim(rec.uniqueId);
        bool isNumber = false;
        const qint64 id = uid.toLongLong(&isNumber);
        // An alert page or a stranger's record has no row; only a row still
        // waiting for its result takes one.
        if (!isNumber || id <= 0 || !awaitsResult(id)) {
            continue;
        }
        const QString msg = conv::trim(rec.message), phone = conv::trim(rec.phoneNumber),
                      pin = conv::trim(rec.pin);
        switch (static_cast<PortStatus>(rec.status)) {
            case PortStatus::Sent:
                m_host.replayResult(LogStatus::Sent, uid, msg, phone, pin, 0);
                break;
            case PortStatus::Cancelled:
                m_host.replayResult(LogStatus::Cancelled, uid, msg, phone, pin, 0);
                break;
            case PortStatus::Failed:
            case PortStatus::ModemError:
                // An attempt with retries left was not the message's end: it
                // goes back to the queue like one whose outcome is unknown.
                if (rec.retries >= 0 && rec.retries < retries) {
                    break;
                }
                m_host.replayResult(LogStatus::Failed, uid, msg, phone, pin,
                                    rec.status == static_cast<std::int16_t>(PortStatus::ModemError)
                                        ? rec.comPort
                                        : std::int16_t{0});
                break;
            default:
                break;
        }
    }
}

}  // namespace vts
