#include "StatusConditions.h"

#include "EventLoop.h"

namespace vts {

void StatusConditions::raise(const QString& key, const QString& text, const QString& clearedText) {
    const QDateTime now = m_loop.now();
    for (auto it = m_rounds.begin(); it != m_rounds.end(); ++it) {
        if (key.startsWith(it.key())) {
            it.value().insert(key);
        }
    }
    auto it = m_active.find(key);
    if (it != m_active.end()) {
        it->clearedText = clearedText;
        if (EventLoop::secondsBetween(it->written, now) < kRepeatSeconds) {
            return;
        }
        it->written = now;
    } else {
        m_active.insert(key, Entry{now, clearedText});
    }
    m_write(text);
}

void StatusConditions::clear(const QString& key) {
    const auto it = m_active.find(key);
    if (it == m_active.end()) {
        return;
    }
    const QString text = it->clearedText;
    m_active.erase(it);
    if (!text.isEmpty()) {
        m_write(text);
    }
}

void StatusConditions::beginRound(const QString& group) { m_rounds[group].clear(); }

void StatusConditions::endRound(const QString& group) {
    const QSet<QString> raised = m_rounds.take(group);
    QStringList gone;
    for (auto it = m_active.cbegin(); it != m_active.cend(); ++it) {
        if (it.key().startsWith(group) && !raised.contains(it.key())) {
            gone << it.key();
        }
    }
    gone.sort();
    for (const QString& key : gone) {
        clear(key);
    }
}

}  // namespace vts
