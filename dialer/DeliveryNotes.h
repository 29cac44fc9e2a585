#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// What a dialer run learns of delivery (the message IDs of pages whose
// carrier will send receipts, and receipts that come during the run),
// handed to vtsreceipts, which keeps them in the log store: the dialer
// opens no store. "calvex-delivery.jsonl" in the working directory, one
// JSON object per line, appended under a lock file and taken whole (read
// and emptied) by the receiver. The file is bounded: past kMaxBytes a note
// is refused, so a receiver that is not running never fills the disk.
namespace vts::deliverynotes {

inline constexpr qint64 kMaxBytes = qint64{4} * 1024 * 1024;

QString fileName();  // "calvex-delivery.jsonl"
// Appends `note`; false when it cannot (the file full, not writable).
bool append(const QString& dir, const QJsonObject& note);
// Reads every note and empties the file; nothing when there is none.
QList<QJsonObject> take(const QString& dir);

}  // namespace vts::deliverynotes
