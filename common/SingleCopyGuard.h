#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace vts {

// One running copy per folder: a lock file named `name` in `folder`. A copy
// that crashed leaves a stale lock, which the next copy takes over.
class SingleCopyGuard {
public:
    SingleCopyGuard(const QString& folder, const QString& name);
    ~SingleCopyGuard();
    // True when this copy now holds the lock; false when another runs or the
    // lock file cannot be made (errorText() then says why).
    bool acquire();
    bool held() const;
    // Empty unless the last acquire() failed for a reason other than another
    // running copy (folder missing, not writable).
    QString errorText() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
    QString m_error;
};

}  // namespace vts
