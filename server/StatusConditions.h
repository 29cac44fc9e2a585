#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

namespace vts {

class EventLoop;

// Status lines for conditions that last: a stuck condition is reported when
// it starts, again at most every `repeatSeconds` while it lasts, and once
// when it clears, so one stuck file or a missing settings row cannot push
// every other event out of the status list. Conditions are named by a key.
// A round (one queue check) clears, at its end, every condition of its
// group that the round did not raise again.
class StatusConditions final {
public:
    using Writer = std::function<void(const QString&)>;
    static constexpr double kRepeatSeconds = 300;

    StatusConditions(EventLoop& loop, Writer write) : m_loop(loop), m_write(std::move(write)) {}

    // The condition `key` holds now. `text` is written when it starts or has
    // not been written for kRepeatSeconds; `clearedText` is written when it
    // clears (nothing when empty).
    void raise(const QString& key, const QString& text, const QString& clearedText = QString());
    // The condition `key` no longer holds.
    void clear(const QString& key);
    bool active(const QString& key) const { return m_active.contains(key); }

    // Conditions whose key starts with `group` that are not raised between
    // beginRound and endRound are cleared at endRound.
    void beginRound(const QString& group);
    void endRound(const QString& group);

private:
    struct Entry {
        QDateTime written;
        QString clearedText;
    };
    EventLoop& m_loop;
    Writer m_write;
    QHash<QString, Entry> m_active;
    QHash<QString, QSet<QString>> m_rounds;  // group -> keys raised this round
};

}  // namespace vts
