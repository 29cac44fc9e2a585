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
                                                       QString* name, QString* error, bool write) {
    try {
        auto rs = m_log->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), rowId);
        if (!rs || rs->eof()) {
            return RowUpdate::NoRow;
        }
        *name = rs->text(QStringLiteral("UniqueID"));
        if (!write) {
            *error = m_lastError;
            return RowUpdate::StoreError;
        }
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
    // While the log refuses writes, results go to the journal without a
    // new attempt each: the attempts are left to the journal's retries.
    const bool write =
        m_journal.isEmpty() || !m_journalTried ||
        EventLoop::secondsBetween(*m_journalTried, m_loop.now()) >= kJournalRetrySeconds;
    const RowUpdate r = isNumber && rowId > 0 ? updateLogRow(rowId, status, &name, &error, write)
                                              : RowUpdate::NoRow;
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
        if (write) {
            m_journalTried = m_loop.now();
            m_lastError = error;
        }
        const bool kept = m_journal.add({rowId, status, name});
        watchReserve();
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
        const RowUpdate r = updateLogRow(e.id, e.status, &name, &error, true);
        if (r == RowUpdate::StoreError) {
            m_lastError = error;
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
    watchReserve();
}

bool ResultRecorder::loadJournal() {
    const bool reserved = m_journal.load();
    if (!reserved) {
        m_host.addStatus(QStringLiteral("Error: there is no room for the reserve of ") +
                         QLatin1String(ResultJournal::kFileName) +
                         QStringLiteral("; a result the log cannot take is kept in memory only"));
    }
    watchReserve();
    return reserved;
}

void ResultRecorder::watchReserve() {
    if (m_journal.isEmpty()) {
        m_conditions.clear(QStringLiteral("journal-reserve"));
    } else {
        m_conditions.raise(QStringLiteral("journal-reserve"),
                           QStringLiteral("Results the log cannot take are kept in the reserve "
                                          "of %1 (room for %2 results)")
                               .arg(QLatin1String(ResultJournal::kFileName))
                               .arg(ResultJournal::kSlots),
                           QStringLiteral("Every kept result is recorded in the log"));
    }
    // With less room than a full send queue's results, no new batch is
    // handed out: results that could not be kept anywhere are never made.
    const bool full = !m_journal.isEmpty() && m_journal.freeSlots() < kReserveHeadroom;
    if (full == m_reserveFull) {
        return;
    }
    m_reserveFull = full;
    if (full) {
        m_conditions.raise(QStringLiteral("journal-full"),
                           QStringLiteral("Error: the reserve of %1 is nearly full; no new "
                                          "batches are handed out until the log takes writes again")
                               .arg(QLatin1String(ResultJournal::kFileName)),
                           QStringLiteral("New batches are handed out again"));
    } else {
        m_conditions.clear(QStringLiteral("journal-full"));
    }
    m_host.holdDispatch(full);
}

void ResultRecorder::returnPendingFiles(bool report) {
    bool ok = false;
    const QStringList names =
        paths::listFiles(m_host.queuePath(kPending), QStringLiteral("*.PMF"), &ok);
    QStringList returnable;
    for (const QString& f : names) {
        // A dialer of the earlier run may still deliver it.
        if (!m_heldFiles.contains(f, Qt::CaseInsensitive)) {
            returnable << f;
        }
    }
    const int moved = returnFiles(returnable);
    if (report && moved > 0) {
        m_host.addStatus(
            QStringLiteral("Returned %1 message file(s) from the pending folder to the queue")
                .arg(moved));
    }
}

std::vector<PortRecord> ResultRecorder::readLeftOverResults() {
    std::vector<PortRecord> out;
    m_heldIds.clear();
    const QDir dir(m_workingDir);
    for (int p = 1; p <= portfile::kPortFiles; ++p) {
        const QString path = dir.filePath(portfile::fileName(p));
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        // A dialer of the run that ended is stopped by its server's end; it
        // hangs up and marks what it had not finished, then lets go. Until
        // then only what it has already marked final is taken.
        PortLock lock(m_workingDir, p);
        QStringList unknown;
        for (PortRecord& rec : portrecovery::knownOutcomes(path, &unknown)) {
            out.push_back(std::move(rec));
        }
        if (!lock.tryLock() && !unknown.isEmpty()) {
            m_heldIds.insert(p, unknown);
        }
    }
    return out;
}

QString ResultRecorder::fileOf(qint64 id) const {
    try {
        auto rs = m_log->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), id);
        if (rs && !rs->eof() &&
            rs->value(QStringLiteral("Status")).toInt() == toInt(LogStatus::Waiting)) {
            return rs->text(QStringLiteral("UniqueID"));
        }
    } catch (const db::DbError&) {
    }
    return {};
}

int ResultRecorder::returnFiles(const QStringList& names) {
    int moved = 0;
    for (const QString& f : names) {
        // A file whose result the journal keeps waits for the log, not for
        // a new send.
        if (f.isEmpty() || m_journal.holdsFile(f) ||
            !existsOrDangles(m_host.queuePath(kPending, f))) {
            continue;
        }
        if (queueentries::move(m_host.queuePath(kPending, f),
                               m_host.queuePath(QStringLiteral("\\"), f))) {
            ++moved;
        } else {
            m_host.addStatus(QStringLiteral("Error: ") + f +
                             QStringLiteral(" cannot be put back into the queue folder"));
        }
    }
    return moved;
}

void ResultRecorder::takeReleasedPort(int port, std::int32_t retries) {
    const QStringList ids = m_heldIds.take(port);
    if (ids.isEmpty() || !m_log) {
        return;
    }
    const QString path = QDir(m_workingDir).filePath(portfile::fileName(port));
    applyLeftOverResults(portrecovery::knownOutcomes(path), retries);
    if (m_host.abandoned()) {
        return;
    }
    QStringList names;
    for (const QString& id : ids) {
        const QString name = fileOf(id.toLongLong());
        m_heldFiles.removeAll(name);
        names << name;
    }
    const int moved = returnFiles(names);
    if (moved > 0) {
        m_host.addStatus(
            QStringLiteral("Returned %1 message file(s) from the pending folder to the queue")
                .arg(moved));
    }
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
    if (m_heldFiles.isEmpty()) {
        for (const QStringList& ids : std::as_const(m_heldIds)) {
            for (const QString& id : ids) {
                const QString name = fileOf(id.toLongLong());
                if (!name.isEmpty()) {
                    m_heldFiles << name;
                }
            }
        }
    }
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
