#include "QueueEntries.h"

#include "Paths.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace vts::queueentries {

namespace {

QByteArray joinRaw(const QString& folder, const QByteArray& name) {
    return QFile::encodeName(folder) + '/' + name;
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return QStringLiteral("folder");
    }
    if (S_ISFIFO(mode)) {
        return QStringLiteral("FIFO");
    }
    if (S_ISSOCK(mode)) {
        return QStringLiteral("socket");
    }
    return QStringLiteral("device");
}

// Renames without replacing: a name already there is never overwritten.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: look first, then rename.
    struct stat st {};
    return ::lstat(to.constData(), &st) != 0 && ::rename(from.constData(), to.constData()) == 0;
}

}  // namespace

std::optional<std::vector<Entry>> list(const QString& folder, const QString& pattern) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return std::nullopt;
    }
    std::vector<Entry> out;
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray raw(d->d_name);
        if (raw == "." || raw == "..") {
            continue;
        }
        Entry e;
        e.rawName = raw;
        e.name = QFile::decodeName(raw);
        if (!paths::wildcardMatch(pattern, e.name)) {
            continue;
        }
        struct stat st {};
        const QByteArray full = joinRaw(folder, raw);
        if (QFile::encodeName(e.name) != raw) {
            e.kind = Entry::Kind::Undecodable;
        } else if (::stat(full.constData(), &st) != 0) {
            struct stat lst {};
            if (::lstat(full.constData(), &lst) != 0) {
                continue;  // gone since the listing
            }
            e.kind = Entry::Kind::Dangling;
        } else if (!S_ISREG(st.st_mode)) {
            e.kind = Entry::Kind::Special;
            e.what = kindOf(st.st_mode);
        }
        out.push_back(std::move(e));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.rawName < b.rawName;
    });
    return out;
}

bool move(const QString& from, const QString& to) {
    const QFileInfo fi(from);
    const QByteArray src = QFile::encodeName(from), dst = QFile::encodeName(to);
    if (fi.isSymLink()) {
        char target[4096];
        const ssize_t n = ::readlink(src.constData(), target, sizeof target - 1);
        if (n > 0 && target[0] != '/') {
            const QString absolute = fi.symLinkTarget();  // resolved against the link's folder
            if (::symlink(QFile::encodeName(absolute).constData(), dst.constData()) != 0) {
                return false;
            }
            if (::unlink(src.constData()) != 0) {
                ::unlink(dst.constData());
                return false;
            }
            return true;
        }
    }
    return renameNoReplace(src, dst);
}

bool moveRaw(const QString& fromFolder, const QByteArray& rawName, const QString& toFolder) {
    return renameNoReplace(joinRaw(fromFolder, rawName), joinRaw(toFolder, rawName));
}

}  // namespace vts::queueentries
