#include "SingleCopyGuard.h"

#include "Paths.h"

#include <QLockFile>

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
        // tryLock removes a stale lock and tries once more only when the
        // stale check ran; ask explicitly for a lock left by a dead process.
        if (m_lock->removeStaleLockFile()) m_held = m_lock->tryLock(0);
    }
    return m_held;
}

bool SingleCopyGuard::held() const { return m_held; }

}  // namespace vts
