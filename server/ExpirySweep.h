#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vts {

// The expiry sweep of the queue's subfolders: at each check, every "*.PMF"
// file (any letter case) whose age in days exceeds the limit is deleted.
//
// What is known about each folder's files (name and modification time) is
// kept between checks, ordered by time, so a check where nothing is due
// looks only at the oldest file and at what changed since the last check.
// Changes are learned from a kernel watch on the folder (inotify) where the
// folder is on a local file system; elsewhere (network shares, or when no
// watch can be had) from a change of the folder's own modification time,
// which is followed by a re-listing of the names (no file's time is read
// again). Each file's time is read once when it appears, and once more just
// before it is deleted, so a file whose time was changed in place is never
// deleted early. A folder that is missing or cannot be listed is skipped and
// forgotten; it is read whole again when it is back.
class ExpirySweep final {
public:
    struct Stats {
        int deleted = 0;       // files deleted by the last run
        int timesRead = 0;     // file times read by the last run
        int fullScans = 0;     // folders listed whole by the last run
        bool watched = false;  // every folder of the last run had a kernel watch
    };

    // `status` receives the status lines the sweep writes.
    explicit ExpirySweep(std::function<void(const QString&)> status = {});
    ~ExpirySweep();
    ExpirySweep(const ExpirySweep&) = delete;
    ExpirySweep& operator=(const ExpirySweep&) = delete;

    // Deletes from each folder every "*.PMF" file older than `limitDays`
    // days at `now`. An empty limit deletes nothing; a negative one deletes
    // nothing either and says so in one status line, written when the value
    // is first seen (not at every check).
    void run(const QStringList& folders, std::optional<double> limitDays, const QDateTime& now);

    // Without kernel watches: changes are found through the folders' own
    // modification times only (as on a network share). For tests and
    // benchmarks; call before the first run.
    void setUseWatches(bool use) { m_useWatches = use; }

    const Stats& lastStats() const { return m_stats; }

private:
    struct Folder;
    struct Watcher;
    Folder& folderFor(const QString& path);
    void sweepFolder(Folder& folder, double limitDays, qint64 nowMs);
    void fullScan(Folder& folder);
    void relist(Folder& folder);
    void refresh(Folder& folder, const std::string& name);
    void dropUnused(const QStringList& folders);

    std::function<void(const QString&)> m_status;
    std::unique_ptr<Watcher> m_watcher;
    std::vector<std::unique_ptr<Folder>> m_folders;
    Stats m_stats;
    bool m_useWatches = true;
    bool m_negativeReported = false;
};

}  // namespace vts
