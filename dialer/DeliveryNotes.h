#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What a dialer run learns of delivery (the message IDs of pages whose
// carrier will send receipts, and receipts that come during the run),
// handed on to whoever keeps them in the log store (the server when a run
// ends, and vtsreceipts): the dialer opens no store.
// "calvex-delivery.jsonl" in the working directory, one JSON object per
// line, appended under a lock file and drained whole under the same lock.
// The file is bounded: past kMaxBytes a note is refused, so a store that
// never takes them never fills the disk.
namespace vts::deliverynotes {

inline constexpr qint64 kMaxBytes = qint64{4} * 1024 * 1024;

QString fileName();  // "calvex-delivery.jsonl"
// Appends `note`; false when it cannot (the file full, not writable).
bool append(const QString& dir, const QJsonObject& note);
// The notes: log row `id` went out as `messageIds` (one per part), and the
// network's receipt for the part sent as `messageId`.
QJsonObject submittedNote(qint64 id, const QStringList& messageIds);
QJsonObject receiptNote(const QString& messageId, bool delivered, const QString& reason);

// One note, read back.
struct Note {
    enum class Kind { Submitted, Receipt };
    Kind kind = Kind::Submitted;
    qint64 id = 0;           // Submitted: the page's log row
    QStringList messageIds;  // Submitted: one per part
    QString messageId;       // Receipt
    bool delivered = false;  // Receipt
    QString reason;          // Receipt
    QDateTime at;
};

// Reads every note and hands them to `keep` while holding the lock; the
// file is emptied only when `keep` returns true, so notes a store would
// not take stay for the next try, and a receipt kept by another reader
// meanwhile waits until the notes before it are kept. Lines that are no
// note (damaged, cut short) are skipped. False when the file could not be
// read or `keep` refused; true when there was nothing to do. The lock is
// waited for at most `lockWaitMs`.
bool drain(const QString& dir, const std::function<bool(const QList<Note>&)>& keep,
           int lockWaitMs = 2000);
// Whether notes are waiting (the file is not empty).
bool waiting(const QString& dir);

}  // namespace vts::deliverynotes
