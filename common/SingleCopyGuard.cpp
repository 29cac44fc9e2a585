#include "SingleCopyGuard.h"

#include "Paths.h"

#include <QLockFile>
#include <QString>

namespace vts {

SingleCopyGuard::SingleCopyGuard(const QString& folder, const QString& name)
    : m_lock(std::make_unique<QLockFile>(paths::resolve(name, folder))) {
    // A running copy holds the lock however long it runs; only a lock whose
    // process is gone counts as stale and is taken over.
    m_lock->setStaleLockTime(0);
}

SingleCopyGuard::~SingleCopyGuard() {
    if (m_held) m_lock->unlock();
}

bool SingleCopyGuard::acquire() {
    if (m_held) return true;
    m_held = m_lock->tryLock(0);
    if (!m_held && m_lock->error() == QLockFile::LockFailedError) {
        // A lock file whose process number now belongs to another program
        // (as after a restart) looks alive to tryLock; it is stale all the
        // same when nobody holds the file's own lock, which this checks.
        if (m_lock->removeStaleLockFile()) m_held = m_lock->tryLock(0);
    }
    m_error.clear();
    if (!m_held && m_lock->error() != QLockFile::LockFailedError)
        m_error = QStringLiteral("cannot make the lock file %1").arg(m_lock->fileName());
    return m_held;
}

bool SingleCopyGuard::held() const { return m_held; }

QString SingleCopyGuard::errorText() const { return m_error; }

}  // namespace vts
