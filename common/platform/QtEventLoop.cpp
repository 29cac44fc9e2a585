#include "QtEventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace vts {
namespace {

class QtTimer final : public Timer {
public:
    QtTimer(int ms, std::function<void()> fn) : m_fn(std::move(fn)) {
        m_timer.setInterval(ms);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    }
    ~QtTimer() override {
        if (m_alive) *m_alive = false;
    }
    void setInterval(int ms) override { m_timer.setInterval(ms); }
    int interval() const override { return m_timer.interval(); }
    void setSingleShot(bool s) override { m_timer.setSingleShot(s); }
    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    void fire() {
        if (m_running) return;  // a callback that yields is not re-entered by its own timer
        m_running = true;
        auto alive = std::make_shared<bool>(true);
        m_alive = alive;
        m_fn();
        if (*alive) {
            m_running = false;
            m_alive.reset();
        }
    }
    QTimer m_timer;
    std::function<void()> m_fn;
    bool m_running = false;
    std::shared_ptr<bool> m_alive;
};

}  // namespace

QDateTime QtEventLoop::now() const { return QDateTime::currentDateTime(); }

std::unique_ptr<Timer> QtEventLoop::createTimer(int intervalMs, std::function<void()> onTimeout) {
    return std::make_unique<QtTimer>(intervalMs, std::move(onTimeout));
}

void QtEventLoop::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtEventLoop::waitFor(double seconds) {
    if (seconds <= 0) {
        yield();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), &loop, &QEventLoop::quit);
    loop.exec();
}

void QtEventLoop::post(std::function<void()> fn) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(fn));
}

}  // namespace vts
