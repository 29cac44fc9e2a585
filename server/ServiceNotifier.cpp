#include "ServiceNotifier.h"

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
    int interval = kStatusEveryMs;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        interval = std::min<int>(kStatusEveryMs, static_cast<int>(usec / 2000));
    }
    m_timer->start(std::max(interval, 100));
    tick();
}

void ServiceNotifier::stopping() {
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return;
    m_timer->stop();
    sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::tick() {
    sd_notify(0, "WATCHDOG=1");
    const QString status = m_summary ? m_summary() : QString();
    if (status != m_lastStatus) {
        m_lastStatus = status;
        sd_notify(0, (QStringLiteral("STATUS=") + status).toUtf8().constData());
    }
}

}  // namespace vts
