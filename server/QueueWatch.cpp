#include "QueueWatch.h"

#include <QFile>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace vts {

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                           IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

QueueWatch::QueueWatch() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

QueueWatch::~QueueWatch() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool QueueWatch::queueName(const QByteArray& name) {
    return name.size() >= 5 && (name.front() == 'A' || name.front() == 'a') &&
           name.right(4).toLower() == ".pmf";
}

void QueueWatch::forget() {
    if (m_wd >= 0 && m_fd >= 0) {
        inotify_rm_watch(m_fd, m_wd);
    }
    m_wd = -1;
    m_names.clear();
}

bool QueueWatch::watch(const QString& folder) {
    if (m_fd < 0) {
        return false;
    }
    if (m_wd >= 0 && folder == m_folder) {
        return true;
    }
    forget();
    m_folder = folder;
    m_wd = inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), kMask | IN_ONLYDIR);
    return m_wd >= 0;
}

bool QueueWatch::takeEvents() {
    if (m_fd < 0) {
        return false;
    }
    bool ready = false;
    alignas(struct inotify_event) char buf[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
            off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                // Events were lost: whatever is there may be ready.
                m_names.clear();
                ready = true;
                continue;
            }
            if (ev->wd != m_wd) {
                continue;
            }
            if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder went away or moved: the next check watches anew.
                m_wd = -1;
                m_names.clear();
                continue;
            }
            const QByteArray name = ev->len > 0 ? QByteArray(ev->name) : QByteArray();
            if (!queueName(name)) {
                continue;
            }
            const auto it = m_names.find(name);
            if (ev->mask & IN_CREATE) {
                m_names.insert(name, State::Created);
                ready = true;  // a link or rename: whole at once
            } else if (ev->mask & (IN_OPEN | IN_MODIFY)) {
                // Opened right after its creation, or written to: a writer
                // has it. (A name the intake opens is moved away next.)
                if ((ev->mask & IN_MODIFY) || (it != m_names.end() && *it == State::Created)) {
                    m_names.insert(name, State::Writing);
                }
            } else if (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
                m_names.remove(name);
                ready = true;
            } else if (ev->mask & (IN_MOVED_FROM | IN_DELETE)) {
                m_names.remove(name);
            }
        }
    }
    return ready;
}

void QueueWatch::scanned() {
    m_names.removeIf([](const auto& it) { return it.value() == State::Created; });
}

QSet<QString> QueueWatch::writing() const {
    QSet<QString> names;
    for (auto it = m_names.begin(); it != m_names.end(); ++it) {
        if (*it == State::Writing) {
            names.insert(QFile::decodeName(it.key()));
        }
    }
    return names;
}

}  // namespace vts
