#pragma once

#include <QIcon>
#include <QWidget>

class QListView;
class QPushButton;
class QSystemTrayIcon;

namespace vts {

class MonitorCore;

// The server's main window: four buttons, the status list and the
// notification-area icon, wired to the logic beneath. Closing the window runs
// the exit sequence; a No keeps it open. The window opens at the form's size
// and may grow; the status list grows with it, failure lines in red.
class frmMonitor final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;

    explicit frmMonitor(MonitorCore& core, QWidget* parent = nullptr);

    QPushButton* ClearEvents_c() const { return m_clear; }
    QPushButton* Command1() const { return m_cancelAlert; }
    QPushButton* Configure_c() const { return m_configure; }
    QPushButton* Shutdown_c() const { return m_shutdown; }
    QListView* Status_c() const { return m_status; }
    QSystemTrayIcon* cSysTray1() const { return m_tray; }

    // The double click on the notification-area icon.
    void cSysTray1_MouseDblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MonitorCore& m_core;
    QPushButton* m_clear;
    QPushButton* m_cancelAlert;
    QPushButton* m_configure;
    QPushButton* m_shutdown;
    QListView* m_status;
    QSystemTrayIcon* m_tray = nullptr;
    QSize m_listMargins;  // from the list's right and bottom edges to the window's
};

// The server's icon, drawn rather than loaded.
QIcon serverIcon();

}  // namespace vts
