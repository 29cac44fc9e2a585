#include "ExpirySweep.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace vts {

namespace {

// A folder time this close to the present may not yet show a change made
// in the same clock tick: such a folder is listed again at the next run.
constexpr qint64 kUnsettledMs = 2000;

// "*.PMF" as the listing matches it: any name ending in ".pmf", any case.
bool isQueueFileName(const char* name, size_t len) {
    if (len < 4) {
        return false;
    }
    const char* s = name + len - 4;
    return s[0] == '.' && (s[1] | 0x20) == 'p' && (s[2] | 0x20) == 'm' && (s[3] | 0x20) == 'f';
}

qint64 msecs(const struct timespec& t) {
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// File systems whose changes made by other machines a kernel watch does
// not see: their folders are followed through the folder's own time.
bool isRemote(const QByteArray& path) {
    struct statfs fs {};
    if (statfs(path.constData(), &fs) != 0) {
        return true;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE
        case 0x01021997UL:  // 9P
        case 0x564CUL:      // NCP
        case 0x5346414FUL:  // AFS
        case 0x73757245UL:  // CODA
        case 0x00C36400UL:  // Ceph
            return true;
        default:
            return false;
    }
}

// The folder time to remember: a zero time when it is too recent to be
// sure that every change of its clock tick is already in the listing.
struct timespec settledTime(const struct timespec& t) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    if (msecs(now) - msecs(t) < kUnsettledMs) {
        return {};
    }
    return t;
}

}  // namespace

// One kernel watch descriptor for all folders; read without blocking.
struct ExpirySweep::Watcher {
    int fd = -1;
    Watcher() { fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }
    ~Watcher() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
};

struct ExpirySweep::Folder {
    QString path;
    QByteArray native;
    bool known = false;  // the index below reflects the folder
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec dirTime {};
    int watch = -1;
    bool watchLost = false;
    // Names the watch reported since the last run: true when the name may
    // exist now (its time is read), false when it went away.
    std::unordered_map<std::string, bool> dirty;
    // name -> modification time (ms since the epoch), and the same ordered
    // by time: the oldest file is the first candidate.
    std::unordered_map<std::string, qint64> times;
    std::set<std::pair<qint64, std::string>> byTime;

    void forget() {
        known = false;
        times.clear();
        byTime.clear();
        dirty.clear();
    }
    void put(const std::string& name, qint64 t) {
        auto [it, inserted] = times.try_emplace(name, t);
        if (!inserted) {
            if (it->second == t) {
                return;
            }
            byTime.erase({it->second, name});
            it->second = t;
        }
        byTime.insert({t, name});
    }
    void erase(const std::string& name) {
        const auto it = times.find(name);
        if (it != times.end()) {
            byTime.erase({it->second, name});
            times.erase(it);
        }
    }
};

ExpirySweep::ExpirySweep(std::function<void(const QString&)> status)
    : m_status(std::move(status)) {}

ExpirySweep::~ExpirySweep() {
    if (m_watcher) {
        for (const auto& f : m_folders) {
            if (f->watch >= 0) {
                inotify_rm_watch(m_watcher->fd, f->watch);
            }
        }
    }
}

ExpirySweep::Folder& ExpirySweep::folderFor(const QString& path) {
    for (auto& f : m_folders) {
        if (f->path == path) {
            return *f;
        }
    }
    auto f = std::make_unique<Folder>();
    f->path = path;
    f->native = QFile::encodeName(path);
    m_folders.push_back(std::move(f));
    return *m_folders.back();
}

void ExpirySweep::dropUnused(const QStringList& folders) {
    for (auto it = m_folders.begin(); it != m_folders.end();) {
        if (folders.contains((*it)->path)) {
            ++it;
            continue;
        }
        if (m_watcher && (*it)->watch >= 0) {
            inotify_rm_watch(m_watcher->fd, (*it)->watch);
        }
        it = m_folders.erase(it);
    }
}

void ExpirySweep::run(const QStringList& folders, std::optional<double> limitDays,
                      const QDateTime& now) {
    m_stats = Stats{};
    if (!limitDays) {
        m_negativeReported = false;
        return;
    }
    if (*limitDays < 0) {
        if (!m_negativeReported && m_status) {
            m_status(QStringLiteral("Message file expire days is negative (%1): no message files "
                                    "are deleted")
                         .arg(*limitDays));
        }
        m_negativeReported = true;
        return;
    }
    m_negativeReported = false;
    dropUnused(folders);

    if (m_useWatches && !m_watcher) {
        m_watcher = std::make_unique<Watcher>();
    }
    // What the kernel reported since the last run, by folder.
    if (m_watcher && m_watcher->fd >= 0) {
        alignas(struct inotify_event) char buf[16384];
        for (;;) {
            const ssize_t n = ::read(m_watcher->fd, buf, sizeof buf);
            if (n <= 0) {
                break;  // EAGAIN: nothing more
            }
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
                off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
                if ((ev->mask & IN_Q_OVERFLOW) != 0) {
                    for (auto& f : m_folders) {
                        f->forget();
                    }
                    continue;
                }
                for (auto& f : m_folders) {
                    if (f->watch != ev->wd) {
                        continue;
                    }
                    if ((ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                        f->watchLost = true;
                    } else if (ev->len > 0) {
                        const size_t len = strnlen(ev->name, ev->len);
                        if (isQueueFileName(ev->name, len)) {
                            // Gone needs no look; anything else is read again.
                            f->dirty[std::string(ev->name, len)] =
                                (ev->mask & (IN_DELETE | IN_MOVED_FROM)) == 0;
                        }
                    }
                }
            }
        }
    }

    const qint64 nowMs = now.toMSecsSinceEpoch();
    bool allWatched = true;
    for (const QString& path : folders) {
        Folder& f = folderFor(path);
        sweepFolder(f, *limitDays, nowMs);
        allWatched = allWatched && f.watch >= 0;
    }
    m_stats.watched = allWatched && !folders.isEmpty();
}

void ExpirySweep::sweepFolder(Folder& f, double limitDays, qint64 nowMs) {
    struct stat st {};
    if (::stat(f.native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(f.native.constData(), R_OK | X_OK) != 0) {
        // Missing or not listable: skipped, and read whole when it is back.
        if (m_watcher && f.watch >= 0) {
            inotify_rm_watch(m_watcher->fd, f.watch);
        }
        f.watch = -1;
        f.watchLost = false;
        f.forget();
        return;
    }
    if (f.watchLost || (f.known && (st.st_dev != f.dev || st.st_ino != f.ino))) {
        // The folder was replaced or its watch ended.
        if (m_watcher && f.watch >= 0 && !f.watchLost) {
            inotify_rm_watch(m_watcher->fd, f.watch);
        }
        f.watch = -1;
        f.watchLost = false;
        f.forget();
    }

    if (!f.known) {
        f.dev = st.st_dev;
        f.ino = st.st_ino;
        if (m_watcher && m_watcher->fd >= 0 && f.watch < 0 && !isRemote(f.native)) {
            // The watch is set before the listing, so nothing that changes
            // during the listing is missed.
            f.watch = inotify_add_watch(m_watcher->fd, f.native.constData(),
                                        IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                            IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE |
                                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        }
        f.dirty.clear();
        f.dirTime = settledTime(st.st_mtim);
        fullScan(f);
    } else if (f.watch >= 0) {
        for (const auto& [name, present] : f.dirty) {
            if (present) {
                refresh(f, name);
            } else {
                f.erase(name);
            }
        }
        f.dirty.clear();
    } else if (st.st_mtim.tv_sec != f.dirTime.tv_sec || st.st_mtim.tv_nsec != f.dirTime.tv_nsec) {
        f.dirTime = settledTime(st.st_mtim);
        relist(f);
    }

    // The oldest files first: the first one not due ends the sweep.
    auto it = f.byTime.begin();
    while (it != f.byTime.end()) {
        const double ageDays = static_cast<double>(nowMs - it->first) / 1000.0 / 86400.0;
        if (!(ageDays > limitDays)) {
            break;
        }
        const std::string name = it->second;
        const qint64 known = it->first;
        const QByteArray p = f.native + '/' + QByteArray::fromStdString(name);
        struct stat fs {};
        ++m_stats.timesRead;
        if (::stat(p.constData(), &fs) != 0 || S_ISDIR(fs.st_mode)) {
            it = f.byTime.erase(it);
            f.times.erase(name);
            continue;
        }
        if (msecs(fs.st_mtim) != known) {
            // Its time changed in place since it was read: order it anew.
            f.put(name, msecs(fs.st_mtim));
            it = f.byTime.begin();
            continue;
        }
        if (::unlink(p.constData()) == 0) {
            ++m_stats.deleted;
            it = f.byTime.erase(it);
            f.times.erase(name);
        } else {
            ++it;  // cannot be deleted now; tried again at the next check
        }
    }
}

void ExpirySweep::fullScan(Folder& f) {
    ++m_stats.fullScans;
    f.times.clear();
    f.byTime.clear();
    DIR* d = ::opendir(f.native.constData());
    if (!d) {
        return;
    }
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const size_t len = strlen(e->d_name);
        if (e->d_type == DT_DIR || !isQueueFileName(e->d_name, len)) {
            continue;
        }
        struct stat st {};
        ++m_stats.timesRead;
        if (::fstatat(dfd, e->d_name, &st, 0) != 0) {
            // A dangling link has no time and is never due.
            if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            f.put(std::string(e->d_name, len), std::numeric_limits<qint64>::max());
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            continue;
        }
        f.put(std::string(e->d_name, len), msecs(st.st_mtim));
    }
    ::closedir(d);
    f.known = true;
}

void ExpirySweep::relist(Folder& f) {
    // Names only: a file already known keeps its time; new ones are read.
    ++m_stats.fullScans;
    DIR* d = ::opendir(f.native.constData());
    if (!d) {
        f.forget();
        return;
    }
    std::unordered_set<std::string> seen;
    seen.reserve(f.times.size());
    while (const dirent* e = ::readdir(d)) {
        const size_t len = strlen(e->d_name);
        if (e->d_type == DT_DIR || !isQueueFileName(e->d_name, len)) {
            continue;
        }
        std::string name(e->d_name, len);
        if (f.times.count(name) == 0) {
            refresh(f, name);
        }
        seen.insert(std::move(name));
    }
    ::closedir(d);
    for (auto it = f.times.begin(); it != f.times.end();) {
        if (seen.count(it->first) == 0) {
            f.byTime.erase({it->second, it->first});
            it = f.times.erase(it);
        } else {
            ++it;
        }
    }
}

void ExpirySweep::refresh(Folder& f, const std::string& n) {
    const QByteArray p = f.native + '/' + QByteArray::fromStdString(n);
    struct stat st {};
    ++m_stats.timesRead;
    if (::stat(p.constData(), &st) != 0) {
        if (::lstat(p.constData(), &st) == 0) {
            f.put(n, std::numeric_limits<qint64>::max());  // dangling link: never due
        } else {
            f.erase(n);
        }
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        f.erase(n);
        return;
    }
    f.put(n, msecs(st.st_mtim));
}

}  // namespace vts
