#pragma once

#include "MonitorView.h"

#include <memory>

namespace vts {

class frmMonitor;
class frmShutdown;
class frmSplash;
class frmVisualAlert;

// MonitorView on real widgets, for a server with a display.
class WidgetMonitorView final : public MonitorView {
public:
    WidgetMonitorView();
    ~WidgetMonitorView() override;
    void setMonitor(frmMonitor* monitor) { m_monitor = monitor; }

    void showSplash() override;
    void setSplashLabel(const QString& text) override;
    void setBusyCursor(bool busy) override;
    void closeSplash() override;
    void showMonitor() override;
    void showVisualAlert(const QString& text) override;
    void showShutdownNotice() override;
    void closeShutdownNotice() override;

    frmVisualAlert* visualAlert() const { return m_alert.get(); }
    frmSplash* splash() const { return m_splash.get(); }

private:
    bool m_busy = false;
    frmMonitor* m_monitor = nullptr;
    std::unique_ptr<frmSplash> m_splash;
    std::unique_ptr<frmVisualAlert> m_alert;
    std::unique_ptr<frmShutdown> m_shutdown;
};

}  // namespace vts
