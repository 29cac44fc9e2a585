#pragma once

#include "EventLoop.h"

namespace vts {

// The programs' event loop: QTimer, QCoreApplication::processEvents and a
// nested QEventLoop for waits (blocks in the loop, never spins).
class QtEventLoop final : public EventLoop {
public:
    QDateTime now() const override;
    std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> onTimeout) override;
    void yield() override;
    void waitFor(double seconds) override;
    void post(std::function<void()> fn) override;
};

}  // namespace vts
