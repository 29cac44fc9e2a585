#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace vts {

// One running copy per folder: a lock file named `name` in `folder`. A copy
// that crashed leaves a stale lock, which the next copy takes over.
//
// Only a lock file held by a running copy counts as "another copy runs"
// (otherCopyRunning()); a folder that is missing or cannot be written, or a
// stale lock file that cannot be replaced, is a failure of its own whose
// errorText() names the folder.
class SingleCopyGuard {
public:
    SingleCopyGuard(const QString& folder, const QString& name);
    ~SingleCopyGuard();
    // True when this copy now holds the lock.
    bool acquire();
    bool held() const;
    // After a failed acquire(): true when a running copy holds the lock.
    bool otherCopyRunning() const;
    // Empty unless the last acquire() failed for a reason other than another
    // running copy; then a sentence naming the folder and the reason.
    QString errorText() const;
    // What a program says when acquire() failed: `alreadyRunning` when
    // another copy runs, else "<program> cannot start." and errorText().
    QString refusalText(const QString& alreadyRunning, const QString& program) const;

    // True when a running process holds the lock file at `path` (its own
    // open-file lock, which a crashed process no longer holds).
    static bool heldByRunningCopy(const QString& path);

private:
    QString describeFailure() const;

    QString m_folder;
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
    bool m_otherCopy = false;
    QString m_error;
};

}  // namespace vts
