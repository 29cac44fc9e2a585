#pragma once

#include "Database.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// tblDelivery in the log store: what the network said of each page the
// carrier took, beside tblLog whose fields and statuses stay as they are.
// One row per message part (a long SMS has several), keyed by the log
// row's ID and the part, holding the carrier's message ID, the part's
// state ("awaiting", "delivered", "not delivered"), the network's reason
// and when it was submitted and when the receipt came. Rows are written
// only for pages whose carrier was asked for receipts, so a page without
// rows has no delivery to show. The table is made the first time a row is
// written. IDs are never reused (tblLog's AUTOINCREMENT), so rows of
// purged pages are never mistaken for a new page's.
//
// A receipt can come before its page's submission is noted: for a part a
// long text's earlier attempt got accepted, or from a receiver that heard
// it before the dialer's note was kept. Such a receipt waits in
// tblDeliveryEarly (by message ID) for kEarlyMinutes, and settles the part
// it names when that part is noted within that time; older ones are
// dropped, so a carrier's reused message ID never takes a stale receipt.
namespace vts::delivery {

inline const QString kTable = QStringLiteral("tblDelivery");
inline const QString kEarlyTable = QStringLiteral("tblDeliveryEarly");
inline constexpr int kEarlyMinutes = 30;
inline constexpr int kMaxMessageId = 64;
inline constexpr int kMaxReason = 100;
// After this long without a receipt a page shows as "no receipt", unless
// calvex.ini's [delivery] noreceipt says otherwise (minutes).
inline constexpr int kDefaultNoReceiptMinutes = 60;

void createTable(db::Database& log);
// Records that log row `id` went out as `messageIds` (one per part),
// replacing what an earlier attempt recorded: a part noted again under the
// same message ID keeps its state, and a part whose receipt came early
// takes it; throws db::DbError.
void noteSubmitted(db::Database& log, qint64 id, const QStringList& messageIds,
                   const QDateTime& at);
// Records a receipt for the part sent as `messageId`; the number of parts
// it matched (0: not one of ours, or already settled; one for no part yet
// noted is kept as early); throws db::DbError.
int noteReceipt(db::Database& log, const QString& messageId, bool delivered, const QString& reason,
                const QDateTime& at);

// A page's delivery in words, its parts taken together.
struct Delivery {
    QString state;  // "delivered", "not delivered", "awaiting receipt" or "no receipt"
    QString reason;
    QDateTime at;  // of the last receipt, or of the submission while awaiting
    QStringList messageIds;
};
// The delivery of log row `id`; nullopt when none is kept.
std::optional<Delivery> of(db::Database& log, qint64 id, int noReceiptMinutes,
                           const QDateTime& now = QDateTime::currentDateTime());
// The [delivery] noreceipt minutes of calvex.ini in `dir` (at least 1).
int noReceiptMinutes(const QString& dir);

}  // namespace vts::delivery
