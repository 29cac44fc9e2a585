#pragma once

#include <functional>

namespace vts {

// The seam through which the alert sound is played. The program uses a
// bundled sound where an audio device exists and the terminal bell
// otherwise; tests count what sounded.
class AlertSound {
public:
    virtual ~AlertSound() = default;
    virtual void play() = 0;
};

// The terminal bell, written to standard error (standard output carries only
// status lines).
class TerminalBell final : public AlertSound {
public:
    void play() override;
};

// Calls a function for each sound (tests).
class CallbackSound final : public AlertSound {
public:
    explicit CallbackSound(std::function<void()> fn) : m_fn(std::move(fn)) {}
    void play() override {
        if (m_fn) {
            m_fn();
        }
    }

private:
    std::function<void()> m_fn;
};

}  // namespace vts
