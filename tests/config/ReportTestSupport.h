#pragma once

#include <QList>
#include <QString>

namespace vts::db {
class Database;
}

// Shared helpers of the report and purge tests: real log stores with rows.
namespace vts::test::reports {

struct LogRow {
    int status = 1;
    QString sender;
    QString department;
    QString recipient;
    QString sentTime;  // "YYYY-MM-DD HH:MM:SS"
    QString tapPhoneNumber;
    QString message;
};

// Creates VTSLog.mdb in `dir` and adds the rows; returns their IDs.
QList<qint64> createLog(const QString& dir, const QList<LogRow>& rows = {});
qint64 addRow(db::Database& database, const LogRow& row);
// IDs left in tblLog, ascending.
QList<qint64> logIds(const QString& dir);
// The text of a PDF as pdftotext gives it (empty when it cannot be read).
QString pdfText(const QString& pdfPath);

}  // namespace vts::test::reports
