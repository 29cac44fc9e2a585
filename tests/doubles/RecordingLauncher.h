#pragma once

#include "Launcher.h"

#include <functional>
#include <memory>
#include <vector>

namespace vts {

// Test double: records requests; `onStart` (when set) decides the outcome and
// may act as the started program. By default every start succeeds and the
// returned handle reports "running" until finish() is called on it.
class RecordingLauncher final : public Launcher {
public:
    class Handle final : public ProcessHandle {
    public:
        bool isRunning() override { return m_running; }
        qint64 pid() const override { return 4242; }
        void stop(bool force) override {
            stops.push_back(force);
            if (onStop) onStop(force);
        }
        void finish() { m_running = false; }
        // The stop requests received (true: forced); `onStop` acts on one.
        std::vector<bool> stops;
        std::function<void(bool force)> onStop;

    private:
        bool m_running = true;
    };
    std::shared_ptr<ProcessHandle> start(const Request& request, QString* error = nullptr) override;

    // Return null to make the start fail.
    std::function<std::shared_ptr<ProcessHandle>(const Request&)> onStart;
    std::vector<Request> requests;
    std::vector<std::shared_ptr<Handle>> handles;
};

}  // namespace vts
