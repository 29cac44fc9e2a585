#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// What the queue folder holds under names a queue check collects, told
// apart without opening anything: only regular files (directly or through a
// link) are read; everything else is left alone or set aside, so nothing
// placed in the folder can make a check wait.
namespace vts::queueentries {

struct Entry {
    enum class Kind {
        File,         // a regular file, or a link to one
        Special,      // a folder, FIFO, socket or device (directly or through a link)
        Dangling,     // a link that leads nowhere
        Undecodable,  // a name that is not valid text in the system's encoding
    };
    QString name;        // as the program sees it (lossy for Undecodable)
    QByteArray rawName;  // the bytes on disk
    Kind kind = Kind::File;
    QString what;  // for Special: "folder", "FIFO", "socket", "device"
};

// Entries of `folder` whose (decoded) names match `pattern`, sorted by name
// ignoring case; nullopt when the folder cannot be listed.
std::optional<std::vector<Entry>> list(const QString& folder, const QString& pattern);

// Moves an entry by rename; a link with a relative target is made again in
// `to` with its absolute target, so it does not dangle in its new folder.
// Never replaces an existing name.
bool move(const QString& from, const QString& to);

// Moves an entry by its raw name into `toFolder`, under the same raw name.
bool moveRaw(const QString& fromFolder, const QByteArray& rawName, const QString& toFolder);

}  // namespace vts::queueentries
