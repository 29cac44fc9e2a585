#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

namespace vts {

// A repeating (or single-shot) timer owned by its creator. While active it
// calls its callback every interval() milliseconds of loop time. A timer
// whose callback is running is not re-entered by its own firing: the next
// firing is due one interval after the callback started, and fires only once
// the loop gets control again (yield, waitFor or the loop itself).
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;
    // (Re)starts the countdown; a running timer restarts from now.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // Starts or stops; enabling an active timer leaves its countdown alone,
    // like a VB timer's Enabled property.
    void setEnabled(bool on) {
        if (on && !isActive()) {
            start();
        }
        if (!on) {
            stop();
        }
    }
};

// The one seam for time: the current time, timers, yielding to pending events
// and waiting. Programs use QtEventLoop; tests use VirtualEventLoop, where
// time moves only when the test says so and nothing ever sleeps.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Current local date and time of the loop.
    virtual QDateTime now() const = 0;
    // Creates a stopped timer with the given interval that calls onTimeout.
    virtual std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> onTimeout) = 0;
    // Runs whatever is due now (pending events, timers whose time has come),
    // then returns. The equivalent of DoEvents.
    virtual void yield() = 0;
    // Returns after `seconds` of loop time, running events and timers
    // meanwhile. Blocks in the loop; never spins the CPU.
    virtual void waitFor(double seconds) = 0;
    // Runs fn once, soon, from the loop (not from inside the caller).
    virtual void post(std::function<void()> fn) = 0;

    // Seconds from a to b as a fractional number (b - a).
    static double secondsBetween(const QDateTime& a, const QDateTime& b) {
        return static_cast<double>(a.msecsTo(b)) / 1000.0;
    }
};

}  // namespace vts
