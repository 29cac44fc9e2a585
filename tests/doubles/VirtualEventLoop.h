#pragma once

#include "EventLoop.h"

#include <cstdint>
#include <map>
#include <vector>

namespace vts {

// Virtual-time event loop for tests. Time starts at a fixed moment and moves
// only through advance() and waitFor(); timers fire in due order (ties in the
// order they were scheduled). yield() runs posted functions and timers due at
// the current time without moving time.
class VirtualEventLoop final : public EventLoop {
public:
    explicit VirtualEventLoop(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)));
    ~VirtualEventLoop() override;

    QDateTime now() const override;
    std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> onTimeout) override;
    void yield() override;
    void waitFor(double seconds) override;
    void post(std::function<void()> fn) override;

    // Moves time forward by `seconds`, firing every timer that falls due on
    // the way, each at its own due time.
    void advance(double seconds);
    // Moves time to `when` (never backwards), firing due timers.
    void advanceTo(const QDateTime& when);
    // Sets the clock without firing anything (for test set-up).
    void setNow(const QDateTime& when);
    // Number of yield() calls so far (tests check that code yields).
    int yieldCount() const { return m_yields; }
    // Called at every yield(); tests use it to act "while the code yields".
    void setYieldHook(std::function<void()> hook) { m_yieldHook = std::move(hook); }

private:
    friend class VirtualTimer;
    struct Entry {
        std::int64_t due;  // ms since epoch
        std::uint64_t seq;
        class VirtualTimer* timer;
    };
    void schedule(VirtualTimer* t, std::int64_t due);
    void unschedule(VirtualTimer* t);
    void runDue(std::int64_t until);
    void runPosted();

    std::int64_t m_now;
    std::uint64_t m_seq = 0;
    std::vector<Entry> m_queue;
    std::vector<std::function<void()>> m_posted;
    std::function<void()> m_yieldHook;
    int m_yields = 0;
    int m_depth = 0;
};

}  // namespace vts
