#pragma once

#include <QString>
#include <QStringList>

// The state of the queue folder picker: the drive list (the mounted file
// systems, root first) and the folder being browsed. The folder always
// names a readable folder: a change that fails leaves it where it was and
// hands back the system's description of the error.
namespace vts {

class FolderBrowser {
public:
    // Starts at `start` (the process's current folder), or at the root when
    // that cannot be read.
    explicit FolderBrowser(const QString& start);

    // Mount points of the mounted file systems, "/" first, then sorted.
    static QStringList drives();
    // The mount point holding `path` (the longest matching one).
    static QString driveOf(const QString& path, const QStringList& drives);

    QString path() const { return m_path; }
    // Moves to `path` when it is a folder that can be listed; otherwise
    // stays and sets `error` to the system's error text.
    bool setPath(const QString& path, QString* error = nullptr);
    // The folders along the path from the root down to the current one.
    QStringList ancestors() const;
    // The names of the folders inside the current one, sorted.
    QStringList subfolders() const;

private:
    QString m_path;
};

}  // namespace vts
