#include "FailureCauses.h"

#include "CauseFile.h"
#include "Database.h"
#include "LogStore.h"

namespace vts {

namespace {

// How long a cause's write may wait for a store another program holds.
constexpr int kWriteWaitMs = 50;

}  // namespace

FailureCauses::FailureCauses(Status addStatus, Log log)
    : m_addStatus(std::move(addStatus)), m_log(std::move(log)) {}

QString FailureCauses::line(const QString& id, const QString& cause, bool retried) {
    return QStringLiteral("Cause of ID=") + id +
           (retried ? QStringLiteral(" (tried again later): ") : QStringLiteral(": ")) + cause;
}

void FailureCauses::note(const QString& id, const QString& cause, bool retried) {
    QString text = causefile::clean(cause);
    // The server's own refusals come as status lines; the cause is the reason.
    if (text.startsWith(QLatin1String("Error: "))) text = text.mid(7);
    if (text.isEmpty()) return;
    m_last.insert(id, text);
    if (m_last.size() > kMaxUnsaved) m_last.clear();
    if (retried) {
        m_addStatus(line(id, text, true));
        save(id, text);
        return;
    }
    m_waiting.insert(id, text);
}

void FailureCauses::announce(const QString& id) {
    if (!m_waiting.contains(id)) return;
    const QString cause = m_waiting.take(id);
    m_addStatus(line(id, cause, false));
    save(id, cause);
}

void FailureCauses::save(const QString& id, const QString& cause) {
    bool ok = false;
    if (id.toLongLong(&ok); !ok) return;  // an alert page has no log row
    if (m_unsaved.size() < kMaxUnsaved || m_unsaved.contains(id)) m_unsaved.insert(id, cause);
    flush();
}

void FailureCauses::flush() {
    db::Database* log = m_log ? m_log() : nullptr;
    if (!log || !log->isOpen() || m_unsaved.isEmpty()) return;
    db::ShortWait wait(*log, kWriteWaitMs);
    try {
        for (auto it = m_unsaved.begin(); it != m_unsaved.end();) {
            logstore::writeCause(*log, it.key().toLongLong(), it.value());
            it = m_unsaved.erase(it);
        }
    } catch (const db::DbError&) {
        // Kept for the next cause; the status line has said it already.
    }
}

}  // namespace vts
