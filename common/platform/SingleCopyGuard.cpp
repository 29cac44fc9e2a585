#include "SingleCopyGuard.h"

#include "Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vts {

SingleCopyGuard::SingleCopyGuard(const QString& folder, const QString& name)
    : m_folder(QDir::toNativeSeparators(QDir(folder).absolutePath())),
      m_path(paths::resolve(name, folder)),
      m_lock(std::make_unique<QLockFile>(m_path)) {
    // A running copy holds the lock however long it runs; only a lock whose
    // process is gone counts as stale and is taken over.
    m_lock->setStaleLockTime(0);
}

SingleCopyGuard::~SingleCopyGuard() {
    if (m_held) m_lock->unlock();
}

bool SingleCopyGuard::heldByRunningCopy(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    // Every running copy keeps an exclusive lock on its open lock file; the
    // kernel drops it when that process ends, however it ends.
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // releases the lock taken here, if any
    return held;
}

bool SingleCopyGuard::acquire() {
    if (m_held) return true;
    m_otherCopy = false;
    m_error.clear();
    m_held = m_lock->tryLock(0);
    if (!m_held && m_lock->error() == QLockFile::LockFailedError) {
        // A lock file whose process number now belongs to another program
        // (as after a restart) looks alive to tryLock; it is stale all the
        // same when nobody holds the file's own lock, which this checks.
        if (m_lock->removeStaleLockFile()) m_held = m_lock->tryLock(0);
    }
    if (m_held) return true;
    if (heldByRunningCopy(m_path))
        m_otherCopy = true;
    else
        m_error = describeFailure();
    return false;
}

QString SingleCopyGuard::describeFailure() const {
    const QFileInfo folder(m_folder);
    const QString lockName = QFileInfo(m_path).fileName();
    QString reason;
    if (!folder.exists()) {
        reason = QStringLiteral("the folder does not exist");
    } else if (!folder.isDir()) {
        reason = QStringLiteral("it is not a folder");
    } else if (QFileInfo(m_path).exists() || QFileInfo(m_path).isSymLink()) {
        reason = QStringLiteral(
                     "the lock file %1 is left from an earlier run and cannot be "
                     "replaced")
                     .arg(lockName);
    } else if (::access(QFile::encodeName(m_folder).constData(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("the lock file %1 cannot be made there (%2)")
                     .arg(lockName, QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        reason = QStringLiteral("the lock file %1 cannot be made there").arg(lockName);
    }
    return QStringLiteral("The folder %1 cannot be used: %2.").arg(m_folder, reason);
}

bool SingleCopyGuard::held() const { return m_held; }

bool SingleCopyGuard::otherCopyRunning() const { return m_otherCopy; }

QString SingleCopyGuard::errorText() const { return m_error; }

QString SingleCopyGuard::refusalText(const QString& alreadyRunning, const QString& program) const {
    if (m_otherCopy || m_error.isEmpty()) return alreadyRunning;
    return QStringLiteral("%1 cannot start.\n%2").arg(program, m_error);
}

}  // namespace vts
