#pragma once

#include <QString>
#include <QStringList>

// The snapshot of the queue folders shown by frmPendingFilesStatus: how many
// "*.PMF" files wait in the pending, sent and failed folders, their bytes
// together, and the free space of the file system holding the program. All
// arithmetic is 64-bit; a folder that is missing or unreadable counts as
// empty.
namespace vts::pending {

struct Summary {
    qint64 pending = 0;
    qint64 sent = 0;
    qint64 failed = 0;
    qint64 bytes = 0;
    qint64 freeBytes = 0;
    qint64 total() const { return pending + sent + failed; }
};

// `queueFolder` is the queue location as typed (relative ones are taken
// from `base`); `programDir` the folder of the running program.
Summary compute(const QString& queueFolder, const QString& programDir, const QString& base);

// The six label texts, Label1 first.
QStringList labels(const Summary& s);

// "1000 bytes" style texts of the byte total and the free space.
QString byteTotalText(qint64 bytes);
QString freeSpaceText(qint64 bytes);

}  // namespace vts::pending
