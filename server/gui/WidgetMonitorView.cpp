#include "WidgetMonitorView.h"

#include "frmMonitor.h"
#include "frmShutdown.h"
#include "frmSplash.h"
#include "frmVisualAlert.h"

#include <QApplication>
#include <QLabel>

namespace vts {

WidgetMonitorView::WidgetMonitorView() = default;

WidgetMonitorView::~WidgetMonitorView() {
    if (m_busy) {
        QApplication::restoreOverrideCursor();
    }
}

void WidgetMonitorView::showSplash() {
    m_splash = std::make_unique<frmSplash>();
    m_splash->show();
}

void WidgetMonitorView::setSplashLabel(const QString& text) {
    if (!m_splash) {
        return;
    }
    m_splash->Label4()->setText(text);
    m_splash->Label4()->repaint();
}

void WidgetMonitorView::setBusyCursor(bool busy) {
    if (busy == m_busy) {
        return;
    }
    m_busy = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void WidgetMonitorView::closeSplash() { m_splash.reset(); }

void WidgetMonitorView::showMonitor() {
    if (!m_monitor) {
        return;
    }
    m_monitor->show();
}

void WidgetMonitorView::showVisualAlert(const QString& text) {
    if (!m_alert) {
        m_alert = std::make_unique<frmVisualAlert>();
    }
    m_alert->showAlert(text);
}

void WidgetMonitorView::showShutdownNotice() {
    m_shutdown = std::make_unique<frmShutdown>();
    m_shutdown->show();
}

void WidgetMonitorView::closeShutdownNotice() { m_shutdown.reset(); }

}  // namespace vts
