#pragma once

#include "DeliveryNotes.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

// The keeping side of tblDelivery (see DeliveryStore.h): the message IDs
// of pages whose carrier will send receipts, and the receipts, written by
// the server when a dialer run ends and by vtsreceipts.
namespace vts {

namespace db {
class Database;
}
class TraceLog;

// Keeps the dialer's `notes` in `log`, all in one transaction (none kept
// when it throws db::DbError). The message IDs of receipts that matched no
// part awaiting one are added to `unmatched`.
void keepDeliveryNotes(db::Database& log, const QList<deliverynotes::Note>& notes,
                       QStringList* unmatched = nullptr);

// vtsreceipts' store: the log store in the working directory, opened on
// first use and again after it could not be. A store that is missing or
// locked beyond a moment leaves the notes in their file for the next try.
class DeliveryLog {
public:
    DeliveryLog(QString dir, TraceLog& trace);
    ~DeliveryLog();
    // Moves the dialer's notes into the store; false when they stay.
    bool importNotes();

private:
    db::Database* store();
    void traceUnmatched(const QStringList& messageIds);
    QString m_dir;
    TraceLog& m_trace;
    std::unique_ptr<db::Database> m_db;
    QString m_lastFault;  // said once in the trace until the store works again
};

}  // namespace vts
