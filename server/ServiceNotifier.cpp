#include "ServiceNotifier.h"

#include <QDateTime>
#include <QTimer>

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace vts {

namespace {
constexpr int kStatusEveryMs = 5000;
}

ServiceNotifier::ServiceNotifier(std::function<QString()> summary, QObject* parent)
    : QObject(parent), m_summary(std::move(summary)), m_timer(new QTimer(this)) {
    connect(m_timer, &QTimer::timeout, this, &ServiceNotifier::tick);
}

void ServiceNotifier::ready() {
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return;
    sd_notify(0, "READY=1");
    std::uint64_t usec = 0;
    m_watchdog = sd_watchdog_enabled(0, &usec) > 0 && usec > 0;
    m_timer->start(kStatusEveryMs);
    alive();
    tick();
}

void ServiceNotifier::alive() {
    if (!m_watchdog) return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastAliveMs >= 0 && now - m_lastAliveMs < 1000 && now >= m_lastAliveMs) return;
    m_lastAliveMs = now;
    sd_notify(0, "WATCHDOG=1");
}

void ServiceNotifier::stopping() {
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return;
    m_timer->stop();
    m_watchdog = false;
    sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::tick() {
    const QString status = m_summary ? m_summary() : QString();
    if (status != m_lastStatus) {
        m_lastStatus = status;
        sd_notify(0, (QStringLiteral("STATUS=") + status).toUtf8().constData());
    }
}

}  // namespace vts
