#include "ReportTestSupport.h"

#include "Database.h"
#include "LogStore.h"

#include <QProcess>

namespace vts::test::reports {

qint64 addRow(db::Database& database, const LogRow& row) {
    database.execute(
        QStringLiteral("INSERT INTO tblLog (Status, StatusDescription, Type, Sender, Department, "
                       "Recipient, SentTime, TAPPhoneNumber, Message) VALUES (?, '', 'TAP', ?, ?, "
                       "?, ?, ?, ?)"),
        {row.status, row.sender, row.department, row.recipient, row.sentTime, row.tapPhoneNumber,
         row.message});
    auto rs = database.openQuery(QStringLiteral("SELECT max(ID) AS ID FROM tblLog"));
    return rs->value(QStringLiteral("ID")).toLongLong();
}

QList<qint64> createLog(const QString& dir, const QList<LogRow>& rows) {
    logstore::create(dir);
    auto database = logstore::open(dir);
    QList<qint64> ids;
    for (const auto& r : rows) {
        ids << addRow(*database, r);
    }
    return ids;
}

QList<qint64> logIds(const QString& dir) {
    auto database = logstore::open(dir);
    auto rs = database->openQuery(QStringLiteral("SELECT ID FROM tblLog ORDER BY ID"));
    QList<qint64> ids;
    for (; !rs->eof(); rs->moveNext()) {
        ids << rs->value(QStringLiteral("ID")).toLongLong();
    }
    return ids;
}

QString pdfText(const QString& pdfPath) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdfPath, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace vts::test::reports
