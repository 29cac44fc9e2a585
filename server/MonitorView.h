#pragma once

#include <QString>

namespace vts {

// What the server's logic asks of its windows: the start-up window, the main
// window, the alert window and the shut-down notice. The widgets implement it;
// without a display the alert text goes to standard error; tests record.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual void showSplash() {}
    virtual void setSplashLabel(const QString& text) { (void)text; }
    virtual void setBusyCursor(bool busy) { (void)busy; }
    virtual void closeSplash() {}
    virtual void showMonitor() {}
    // Shows the alert window without making it modal; an open one takes the
    // new text.
    virtual void showVisualAlert(const QString& text) = 0;
    virtual void showShutdownNotice() {}
    virtual void closeShutdownNotice() {}
};

// The view without a display: alert texts on standard error.
class ConsoleMonitorView final : public MonitorView {
public:
    void showVisualAlert(const QString& text) override;
};

}  // namespace vts
