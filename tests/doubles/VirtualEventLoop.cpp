#include "VirtualEventLoop.h"

#include <algorithm>
#include <cmath>

namespace vts {

class VirtualTimer final : public Timer {
public:
    VirtualTimer(VirtualEventLoop* loop, int ms, std::function<void()> fn)
        : m_loop(loop), m_interval(ms), m_fn(std::move(fn)) {}
    ~VirtualTimer() override {
        if (m_loop) m_loop->unschedule(this);
        if (m_alive) *m_alive = false;
    }
    void setInterval(int ms) override {
        m_interval = ms;
        if (m_active) start();
    }
    int interval() const override { return m_interval; }
    void setSingleShot(bool s) override { m_singleShot = s; }
    void start() override {
        m_active = true;
        m_loop->unschedule(this);
        m_loop->schedule(this, m_loop->m_now + std::max(1, m_interval));
    }
    void stop() override {
        m_active = false;
        m_loop->unschedule(this);
    }
    bool isActive() const override { return m_active; }

    void fire() {
        if (m_singleShot)
            m_active = false;
        else
            m_loop->schedule(this, m_loop->m_now + std::max(1, m_interval));
        if (m_running) return;  // never re-entered by its own firing
        m_running = true;
        auto alive = std::make_shared<bool>(true);
        m_alive = alive;
        m_fn();
        if (*alive) {
            m_running = false;
            m_alive.reset();
        }
    }

    VirtualEventLoop* m_loop;

private:
    int m_interval;
    std::function<void()> m_fn;
    bool m_active = false;
    bool m_singleShot = false;
    bool m_running = false;
    std::shared_ptr<bool> m_alive;
};

VirtualEventLoop::VirtualEventLoop(QDateTime start) : m_now(start.toMSecsSinceEpoch()) {}

VirtualEventLoop::~VirtualEventLoop() {
    for (auto& e : m_queue) e.timer->m_loop = nullptr;
}

QDateTime VirtualEventLoop::now() const { return QDateTime::fromMSecsSinceEpoch(m_now); }

std::unique_ptr<Timer> VirtualEventLoop::createTimer(int intervalMs,
                                                     std::function<void()> onTimeout) {
    return std::make_unique<VirtualTimer>(this, intervalMs, std::move(onTimeout));
}

void VirtualEventLoop::schedule(VirtualTimer* t, std::int64_t due) {
    m_queue.push_back({due, m_seq++, t});
}

void VirtualEventLoop::unschedule(VirtualTimer* t) {
    std::erase_if(m_queue, [t](const Entry& e) { return e.timer == t; });
}

void VirtualEventLoop::runPosted() {
    while (!m_posted.empty()) {
        auto fns = std::move(m_posted);
        m_posted.clear();
        for (auto& fn : fns) fn();
    }
}

void VirtualEventLoop::runDue(std::int64_t until) {
    for (;;) {
        runPosted();
        auto it =
            std::min_element(m_queue.begin(), m_queue.end(), [](const Entry& a, const Entry& b) {
                return a.due != b.due ? a.due < b.due : a.seq < b.seq;
            });
        if (it == m_queue.end() || it->due > until) break;
        VirtualTimer* t = it->timer;
        if (it->due > m_now) m_now = it->due;
        m_queue.erase(it);
        t->fire();
    }
    if (until > m_now) m_now = until;
}

void VirtualEventLoop::yield() {
    ++m_yields;
    if (m_yieldHook) m_yieldHook();
    runDue(m_now);
}

void VirtualEventLoop::waitFor(double seconds) {
    if (seconds <= 0) {
        yield();
        return;
    }
    ++m_yields;
    if (m_yieldHook) m_yieldHook();
    runDue(m_now + static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

void VirtualEventLoop::post(std::function<void()> fn) { m_posted.push_back(std::move(fn)); }

void VirtualEventLoop::advance(double seconds) {
    runDue(m_now + static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

void VirtualEventLoop::advanceTo(const QDateTime& when) {
    runDue(std::max<std::int64_t>(m_now, when.toMSecsSinceEpoch()));
}

void VirtualEventLoop::setNow(const QDateTime& when) { m_now = when.toMSecsSinceEpoch(); }

}  // namespace vts
