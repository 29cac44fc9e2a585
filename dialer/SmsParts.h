#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The parts of a long SMS text that the network or the SMS centre accepted
// in earlier attempts, so that a retry sends only the others, under the
// same concatenation reference, and the handset joins one message. Kept in
// calvex-sms.parts in the dialer's state folder, one line per page (its ID
// and slot) and text digest, shared by the dialers of every port (a lock
// file guards each update). Lines:
//
//   KEY TAB DIGEST TAB REFERENCE TAB N
//       parts 1 to N accepted, no carrier IDs kept
//   KEY TAB DIGEST TAB REFERENCE TAB COUNT TAB PART:HEXID,PART:HEXID,...
//       COUNT parts accepted, each with the carrier's ID for it in hex
//
// The first form is written whenever it says everything. A line that does
// not read as either (or names another text) counts as nothing accepted:
// the text is sent whole again. The file is bounded: the oldest entries
// go first.
namespace vts::smsparts {

inline constexpr qint64 kMaxProgressBytes = 64 * qint64{1024};
inline constexpr int kMaxProgressEntries = 400;
inline constexpr int kMaxParts = 255;   // a one-octet part count
inline constexpr int kMaxIdBytes = 64;  // an SMPP message_id

struct PartsSent {
    QByteArray digest;  // of the text and its recipient
    int reference = 0;
    QMap<int, QByteArray> accepted;  // part number (from 1) -> the carrier's ID for it

    bool any() const { return !accepted.isEmpty(); }
    // How many parts from the first were accepted without a gap.
    int leading() const;
    // Parts 1 to `n` accepted.
    static PartsSent firstParts(const QByteArray& digest, int reference, int n);
};

// The file's name in the state folder.
QString fileName();
// The entry's key for a page: its unique ID and slot.
QString key(const QString& uniqueId, int index);
// What was accepted of the text `digest` for `key` (nothing when the entry
// is missing, unreadable or about another text).
PartsSent read(const QString& path, const QString& key, const QByteArray& digest);
// Records `sent` for `key`; nothing accepted forgets the entry. False when
// the file could not be written (or `key` cannot be kept in it).
bool note(const QString& path, const QString& key, const PartsSent& sent);

}  // namespace vts::smsparts
