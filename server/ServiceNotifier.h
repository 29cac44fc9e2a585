#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace vts {

// Tells systemd (Type=notify) how the server is doing, through libsystemd's
// sd_notify: READY=1 once the start-up is done, STATUS= a one-line summary
// kept current, and WATCHDOG=1 at half the unit's WatchdogSec= from the
// server's own event loop, so a server thread that hangs stops the
// heartbeat and systemd restarts the service. Outside systemd (no
// NOTIFY_SOCKET) every call does nothing.
class ServiceNotifier final : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(std::function<QString()> summary, QObject* parent = nullptr);

    void ready();
    void stopping();

private:
    void tick();

    std::function<QString()> m_summary;
    QTimer* m_timer = nullptr;
    QString m_lastStatus;
};

}  // namespace vts
