#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace vts {

// Tells systemd (Type=notify) how the server is doing, through libsystemd's
// sd_notify: READY=1 once the start-up is done, STATUS= a one-line summary
// kept current, and WATCHDOG=1 from alive(), which the server calls at the
// end of each tick of its queue timer, so a server whose ticks stop (a hung
// check, a hung thread) stops the heartbeat and systemd restarts the
// service. Outside systemd (no NOTIFY_SOCKET) every call does nothing.
class ServiceNotifier final : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(std::function<QString()> summary, QObject* parent = nullptr);

    void ready();
    // The server's tick has run; the watchdog is told at most once a second.
    void alive();
    void stopping();

private:
    void tick();

    std::function<QString()> m_summary;
    QTimer* m_timer = nullptr;
    QString m_lastStatus;
    bool m_watchdog = false;
    qint64 m_lastAliveMs = -1;
};

}  // namespace vts
