#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace vts::db {
class Database;
}

namespace vts::web {

// The Pages search: the report engine's criteria (dates, status, sender,
// department: one selection formula, parsed to SQL by the report library)
// plus number and PIN (exact) and parts of the recipient and the text,
// newest first, one page of rows at a time by key (rows below `before`),
// never by OFFSET, so the 1000th page costs what the first does.
struct PageFilter {
    std::optional<QDate> from;
    std::optional<QDate> to;
    QString status = QStringLiteral("all");  // all, sent, failed, cancelled, pending
    QString sender;
    QString department;
    QString recipient;
    QString phone;
    QString pin;
    QString text;
    qint64 before = 0;  // 0: from the newest
    int limit = 50;
};

struct PageRow {
    qint64 id = 0;
    QDateTime sentTime;
    int status = 0;
    QString statusText;
    QString sender;
    QString department;
    QString recipient;
    QString phone;
    QString pin;
    QString message;
    QString cause;
    QString uniqueId;
};

struct PageResult {
    QList<PageRow> rows;
    qint64 nextBefore = 0;  // the key of the next page; 0 when none
};

// The statuses a filter takes; false for any other text.
bool validStatus(const QString& status);
// The SQL of a search and its bound parameters (for the benchmark too).
QString searchSql(db::Database& log, const PageFilter& f, QVariantList* params);
PageResult search(db::Database& log, const PageFilter& f);
std::optional<PageRow> pageRow(db::Database& log, qint64 id);

// Pages sent (status 1) and failed (status 2) per hour in the 24 hours up
// to `now`, oldest hour first, read from the newest rows backwards until
// kQuietRows rows in a row are older than that (the log is in time order
// up to clients' clocks), so the dashboard never reads the whole log.
struct Hourly {
    QStringList hours;
    QList<int> sent;
    QList<int> failed;
};
inline constexpr int kQuietRows = 1000;
Hourly hourly(db::Database& log, const QDateTime& now);

}  // namespace vts::web
