#pragma once

#include <QHash>
#include <QString>

#include <functional>

namespace vts {

namespace db {
class Database;
}

// Why each page was not delivered, from where it is known (the dialer
// through the pager control, the control itself, the server's own
// refusals) to where a failure shows: a status line right after the
// failure's own line ("Cause of ID=7: 550 unknown pager", at warning
// priority in the journal) and tblCause in the log store. A write the store
// does not take at once (another program holds it) never waits on the
// server's thread: the cause stays in memory and is written with the next.
class FailureCauses final {
public:
    using Status = std::function<void(const QString&)>;
    using Log = std::function<db::Database*()>;

    static constexpr int kMaxUnsaved = 1000;

    FailureCauses(Status addStatus, Log log);

    // The status line of a cause.
    static QString line(const QString& id, const QString& cause, bool retried);

    // A cause for page `id`: shown and kept at once when the page waits to
    // be tried again; else kept until its failure's line has been shown.
    void note(const QString& id, const QString& cause, bool retried);
    // After page `id`'s "Message failed" or "Message cancelled" line: its
    // cause line, and the cause kept in the log. Nothing without a cause.
    void announce(const QString& id);

    // The last cause known for `id` in this run (for the control socket).
    QString last(const QString& id) const { return m_last.value(id); }
    qsizetype unsaved() const { return m_unsaved.size(); }

private:
    void save(const QString& id, const QString& cause);
    void flush();

    Status m_addStatus;
    Log m_log;
    QHash<QString, QString> m_waiting;  // noted, not yet announced
    QHash<QString, QString> m_unsaved;  // announced, not yet in the store
    QHash<QString, QString> m_last;
};

}  // namespace vts
