#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

namespace vts {

// Tells the server at once that a queue file may be waiting, through an
// inotify watch on the queue folder; the timed check stays the fallback (a
// network file system reports no changes made elsewhere, and the kernel's
// event queue can overflow). Read without blocking, from the server's
// thread: the program wakes it when fd() is readable, a test calls
// takeEvents() itself.
//
// A file still being written is never reported as ready: a name created by
// open() counts as written until its writer closes it (IN_CLOSE_WRITE); a
// name that appears whole, by rename or link, as the queue file writer
// publishes it, is ready at once.
class QueueWatch final {
public:
    QueueWatch();
    ~QueueWatch();
    QueueWatch(const QueueWatch&) = delete;
    QueueWatch& operator=(const QueueWatch&) = delete;

    // Watches `folder` (nothing when it is already the watched one and the
    // watch holds); false when it cannot be watched.
    bool watch(const QString& folder);
    bool watching() const { return m_wd >= 0; }
    int fd() const { return m_fd; }
    // Reads the events that came; true when a queue file may be ready (a
    // name was completed, or events were lost).
    bool takeEvents();
    // Queue file names a writer still has open.
    QSet<QString> writing() const;
    // After a scan: names that came whole have been seen; what the intake
    // itself does to them later (open, move) says nothing of a writer.
    void scanned();

    // "A*.PMF" in any letter case: the names the intake lists.
    static bool queueName(const QByteArray& name);

private:
    enum class State { Created, Writing };
    void forget();

    int m_fd = -1;
    int m_wd = -1;
    QString m_folder;
    QHash<QByteArray, State> m_names;
};

}  // namespace vts
