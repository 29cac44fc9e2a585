#include "PageSearch.h"

#include "Database.h"
#include "LogStore.h"
#include "ReportCriteria.h"
#include "SelectionFormula.h"
#include "Statuses.h"

#include <QStringList>

#include <sqlite3.h>

#include <algorithm>

namespace vts::web {

namespace {

const QStringList kStatuses = {QStringLiteral("all"), QStringLiteral("sent"),
                               QStringLiteral("failed"), QStringLiteral("cancelled")};

const QString kColumns = QStringLiteral(
    "ID, SentTime, Status, StatusDescription, Sender, Department, Recipient, TAPPhoneNumber, "
    "TAPPIN, Message, Cause, UniqueID");

PageRow rowOf(db::Recordset& rs) {
    PageRow r;
    r.id = rs.value(QStringLiteral("ID")).toLongLong();
    r.sentTime = rs.value(QStringLiteral("SentTime")).toDateTime();
    r.status = rs.int32(QStringLiteral("Status"));
    r.statusText = rs.text(QStringLiteral("StatusDescription"));
    r.sender = rs.text(QStringLiteral("Sender"));
    r.department = rs.text(QStringLiteral("Department"));
    r.recipient = rs.text(QStringLiteral("Recipient"));
    r.phone = rs.text(QStringLiteral("TAPPhoneNumber"));
    r.pin = rs.text(QStringLiteral("TAPPIN"));
    r.message = rs.text(QStringLiteral("Message"));
    r.cause = rs.text(QStringLiteral("Cause"));
    r.uniqueId = rs.text(QStringLiteral("UniqueID"));
    return r;
}

}  // namespace

bool validStatus(const QString& status) {
    return kStatuses.contains(status) || status == QLatin1String("pending");
}

QString searchSql(db::Database& log, const PageFilter& f, QVariantList* params) {
    report::Criteria c;
    if (f.from || f.to) {
        c.selectDate = true;
        c.from = f.from.value_or(QDate(1900, 1, 1));
        c.to = f.to.value_or(QDate(9999, 12, 31));
    }
    const bool pending = f.status == QLatin1String("pending");
    c.statusIndex =
        pending ? 0 : static_cast<int>(std::max<qsizetype>(0, kStatuses.indexOf(f.status)));
    c.statusText = report::statusEntries().value(c.statusIndex);
    c.sender = f.sender;
    c.department = f.department;
    report::SqlFilter filter = report::parseSelectionFormula(report::buildSelection(c).formula);
    QStringList where;
    if (!filter.where.isEmpty()) where << u'(' + filter.where + u')';
    if (pending) where << QStringLiteral("Status = %1").arg(toInt(LogStatus::Waiting));
    const std::pair<const QString*, const char*> exact[] = {{&f.phone, "TAPPhoneNumber"},
                                                            {&f.pin, "TAPPIN"}};
    for (const auto& [value, column] : exact) {
        if (value->trimmed().isEmpty()) continue;
        where << QString::fromLatin1(column) + QStringLiteral(" = ?") + db::noCase();
        filter.params << value->trimmed();
    }
    const std::pair<const QString*, const char*> part[] = {{&f.recipient, "Recipient"},
                                                           {&f.text, "Message"}};
    for (const auto& [value, column] : part) {
        if (value->isEmpty()) continue;
        where << QStringLiteral("instr(lower(%1), lower(?)) > 0").arg(QString::fromLatin1(column));
        filter.params << *value;
    }
    if (f.before > 0) {
        where << QStringLiteral("ID < ?");
        filter.params << f.before;
    }
    QString sql = QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM ") +
                  logstore::rowsWithCause(log);
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    // One row more than shown tells whether another page follows.
    sql += QStringLiteral(" ORDER BY ID DESC LIMIT %1").arg(f.limit + 1);
    *params = filter.params;
    return sql;
}

PageResult search(db::Database& log, const PageFilter& f) {
    QVariantList params;
    const QString sql = searchSql(log, f, &params);
    PageResult result;
    auto rs = log.openQuery(sql, params);
    for (; !rs->eof(); rs->moveNext()) {
        if (result.rows.size() == f.limit) {
            result.nextBefore = result.rows.last().id;
            break;
        }
        result.rows << rowOf(*rs);
    }
    return result;
}

std::optional<PageRow> pageRow(db::Database& log, qint64 id) {
    auto rs = log.openQuery(QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM ") +
                                logstore::rowsWithCause(log) + QStringLiteral(" WHERE ID = ?"),
                            {id});
    if (rs->eof()) return std::nullopt;
    return rowOf(*rs);
}

Hourly hourly(db::Database& log, const QDateTime& now) {
    Hourly h;
    const QDateTime end(now.date(), QTime(now.time().hour(), 0));
    const QDateTime start = end.addSecs(qint64{-23} * 3600);
    for (int i = 0; i < 24; ++i) {
        h.hours << start.addSecs(qint64{i} * 3600).toString(QStringLiteral("MM/dd HH:00"));
        h.sent << 0;
        h.failed << 0;
    }
    // Streamed row by row: a query record set would read the whole log.
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(log.handle(), "SELECT SentTime, Status FROM tblLog ORDER BY ID DESC", -1,
                           &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        throw db::DbError(QString::fromUtf8(sqlite3_errmsg(log.handle())), log.filePath());
    }
    int quiet = 0;
    while (quiet < kQuietRows && sqlite3_step(st) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        const QDateTime t = QDateTime::fromString(QString::fromLatin1(text ? text : ""),
                                                  QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const qint64 secs = t.isValid() ? start.secsTo(t) : -1;
        if (secs < 0) {
            ++quiet;
            continue;
        }
        quiet = 0;
        const qint64 slot = secs / 3600;
        if (slot >= 24) continue;
        const int status = sqlite3_column_int(st, 1);
        if (status == toInt(LogStatus::Sent)) ++h.sent[slot];
        if (status == toInt(LogStatus::Failed)) ++h.failed[slot];
    }
    sqlite3_finalize(st);
    return h;
}

}  // namespace vts::web
