#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

// The receiver's side of tblDelivery (see DeliveryStore.h): the message
// IDs of pages whose carrier will send receipts, and the receipts. The log
// store in the working directory is opened on first use; a store that is
// missing, locked beyond a moment or damaged loses only the delivery note,
// never a page's status, and the trace says so.
namespace vts {

namespace db {
class Database;
}
class TraceLog;

class DeliveryLog {
public:
    DeliveryLog(QString dir, TraceLog& trace);
    ~DeliveryLog();
    // `uniqueId` is the page's log row ID (alerts have none and are skipped).
    void submitted(qint64 id, const QStringList& messageIds, const QDateTime& at);
    void receipt(const QString& messageId, bool delivered, const QString& reason,
                 const QDateTime& at);

private:
    db::Database* store();
    QString m_dir;
    TraceLog& m_trace;
    std::unique_ptr<db::Database> m_db;
    bool m_failed = false;
};

}  // namespace vts
