#include "FolderBrowser.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>

namespace vts {

namespace {

// Opens the folder the way a listing does, to learn the system's reason
// when it cannot be read.
bool readable(const QString& path, QString* error) {
    DIR* d = ::opendir(QFile::encodeName(path).constData());
    if (!d) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::closedir(d);
    return true;
}

}  // namespace

FolderBrowser::FolderBrowser(const QString& start) {
    if (!setPath(start)) m_path = QDir::rootPath();
}

QStringList FolderBrowser::drives() {
    QStringList list;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        const QString root = v.rootPath();
        if (!list.contains(root)) list << root;
    }
    list.removeAll(QDir::rootPath());
    std::sort(list.begin(), list.end());
    list.prepend(QDir::rootPath());
    return list;
}

QString FolderBrowser::driveOf(const QString& path, const QStringList& drives) {
    QString best = QDir::rootPath();
    for (const QString& d : drives) {
        const QString prefix = d.endsWith(QLatin1Char('/')) ? d : d + QLatin1Char('/');
        if ((path == d || path.startsWith(prefix)) && d.size() > best.size()) best = d;
    }
    return best;
}

bool FolderBrowser::setPath(const QString& path, QString* error) {
    const QString target = QDir::cleanPath(
        QDir(m_path.isEmpty() ? QDir::currentPath() : m_path).absoluteFilePath(path));
    if (!readable(target, error)) return false;
    if (!QFileInfo(target).isDir()) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(ENOTDIR));
        return false;
    }
    m_path = target;
    return true;
}

QStringList FolderBrowser::ancestors() const {
    QStringList list;
    QString p = m_path;
    while (true) {
        list.prepend(p);
        const QString up = QFileInfo(p).absolutePath();
        if (p == QDir::rootPath() || up == p) break;
        p = up;
    }
    return list;
}

QStringList FolderBrowser::subfolders() const {
    QDir dir(m_path);
    return dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

}  // namespace vts
