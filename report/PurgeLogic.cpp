#include "PurgeLogic.h"

#include "Conversions.h"
#include "Database.h"
#include "Dialogs.h"
#include "LogStore.h"

namespace vts::report {

QString purgeCondition(const PurgeCriteria& c) {
    QString condition;
    if (c.selectDate) {
        condition = QStringLiteral("SentTime>=#") + conv::formatDate(c.from) +
                    QStringLiteral(" 00:00:00# AND SentTime<=#") + conv::formatDate(c.to) +
                    QStringLiteral(" 23:59:59#");
    }
    const QString sender = conv::trim(c.sender);
    if (!sender.isEmpty()) {
        if (!condition.isEmpty()) {
            condition += QStringLiteral(" AND ");
        }
        QString quoted = sender;
        // "[" would open a character class in the pattern; "[[]" is a plain "[".
        quoted.replace(QLatin1Char('['), QStringLiteral("[[]"));
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        condition += QStringLiteral("Sender LIKE '") + quoted + QStringLiteral("*'");
    }
    return condition;
}

QString purgeStatement(const PurgeCriteria& c) {
    const QString condition = purgeCondition(c);
    QString statement = QStringLiteral("delete * from tblLog");
    if (!condition.isEmpty()) {
        statement += QStringLiteral(" where ") + condition;
    }
    return statement;
}

PurgeLogic::PurgeLogic(QString workingDirectory, Dialogs& dialogs)
    : m_dir(std::move(workingDirectory)), m_dialogs(dialogs) {}

int PurgeLogic::countMatching(const QString& workingDirectory, const PurgeCriteria& c) {
    auto log = db::Database::open(workingDirectory, QStringLiteral("VTSLOG.MDB"));
    log->execute(QStringLiteral("BEGIN IMMEDIATE"));
    int rows = 0;
    try {
        rows = log->executeJet(purgeStatement(c));
    } catch (...) {
        log->execute(QStringLiteral("ROLLBACK"));
        throw;
    }
    log->execute(QStringLiteral("ROLLBACK"));
    return rows;
}

PurgeLogic::Outcome PurgeLogic::purge(const PurgeCriteria& c) {
    m_deleted = 0;
    if (c.selectDate && c.from > c.to) {
        m_dialogs.message(QStringLiteral("The FROM date is later than the TO date"),
                          QStringLiteral("Error"), Dialogs::Icon::Critical);
        return Outcome::DateError;
    }
    const QString condition = purgeCondition(c);
    m_statement = purgeStatement(c);
    const bool yes =
        condition.isEmpty()
            ? m_dialogs.confirm(
                  QStringLiteral("Not selecting any criteria will purge the entire log!"),
                  QStringLiteral("Warning!!!"), Dialogs::Icon::Exclamation)
            : m_dialogs.confirm(
                  QStringLiteral("Are you sure you want to purge the messages from the log?"),
                  QStringLiteral("Confirmation"), Dialogs::Icon::Question);
    if (!yes) {
        return Outcome::Declined;
    }

    try {
        auto database = db::Database::open(m_dir, QStringLiteral("VTSLOG.MDB"));
        // One transaction: the matching rows and what is kept beside them
        // (causes, delivery receipts) go together or, on error, not at all;
        // nothing else would ever remove what a deleted row left behind.
        database->execute(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            m_deleted = database->executeJet(m_statement);
            if (database->hasTable(logstore::kCauseTable)) {
                database->execute(
                    QStringLiteral("DELETE FROM tblCause WHERE ID NOT IN (SELECT ID FROM tblLog)"));
            }
            if (database->hasTable(QStringLiteral("tblDelivery"))) {
                database->execute(QStringLiteral(
                    "DELETE FROM tblDelivery WHERE ID NOT IN (SELECT ID FROM tblLog)"));
            }
            // A gateway user whose file has no row left, once the file has
            // had a day to be logged.
            if (database->hasTable(logstore::kGatewayUserTable)) {
                database->execute(QStringLiteral(
                    "DELETE FROM tblGatewayUser WHERE At < datetime('now', '-1 day') AND "
                    "UniqueID NOT IN (SELECT UniqueID FROM tblLog WHERE UniqueID IS NOT NULL)"));
            }
            database->execute(QStringLiteral("COMMIT"));
        } catch (const db::DbError&) {
            m_deleted = 0;
            database->execute(QStringLiteral("ROLLBACK"));
            throw;
        }
        database->close();
    } catch (const db::DbError& e) {
        m_dialogs.message(QStringLiteral("The log could not be purged: %1").arg(e.message()),
                          QStringLiteral("Error"), Dialogs::Icon::Critical);
        return Outcome::Failed;
    }
    m_dialogs.message(QStringLiteral("Purging completed"), QString(), Dialogs::Icon::Information);
    return Outcome::Purged;
}

}  // namespace vts::report
