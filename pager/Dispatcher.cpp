#include "Dispatcher.h"

#include "Conversions.h"
#include "EventLoop.h"

#include <algorithm>

namespace vts {

using namespace pagerprops;

Dispatcher::Dispatcher(EventLoop& loop, Dialogs& dialogs, Launcher& launcher,
                       const QString& workingDir, const Values& values, Host& host)
    : m_loop(loop),
      m_values(values),
      m_host(host),
      m_ports(dialogs, launcher, workingDir, [this](const QString& text) { m_host.notice(text); }),
      m_timer(loop.createTimer(1000, [this] { Timer1_Timer(); })) {}

Dispatcher::~Dispatcher() {
    *m_alive = false;
    if (m_timer) {
        m_timer->stop();
    }
}

std::int16_t Dispatcher::portAt(int position) const {
    if (position < 1 || position > kMaxPorts) {
        return 0;
    }
    return m_portList[static_cast<size_t>(position)];
}

void Dispatcher::addPort(std::int16_t comPort) {
    if (m_numPorts >= kMaxPorts) {
        return;
    }
    ++m_numPorts;
    m_portList[static_cast<size_t>(m_numPorts)] = comPort;
    m_ports.reset(m_numPorts);
    // A port another dialer holds is watched from now on, so its release
    // (and what that dialer delivered) is noticed without waiting for a
    // new message.
    if (m_ports.isHeld(m_numPorts)) {
        startTimer();
    }
}

void Dispatcher::setOnlyPort(std::int16_t comPort) {
    if (comPort != m_portList[1]) {
        m_ports.reset(1);
    }
    m_numPorts = 1;
    m_portList[1] = comPort;
}

void Dispatcher::place(int n, QueueSlot slot) {
    slot.Retries = 0;
    slot.InProgress = false;
    slot.SubmitTime = m_loop.now();
    m_queue.at(n) = std::move(slot);
    m_ports.release(n);
    startTimer();
}

void Dispatcher::startTimer() {
    if (!m_stopped) {
        m_timer->setEnabled(true);
    }
}

void Dispatcher::stop() {
    m_stopped = true;
    m_timer->stop();
}

RecordSettings Dispatcher::recordSettings() const {
    RecordSettings s;
    s.timeout = static_cast<std::int16_t>(m_values[kTimeout]);
    s.debugMode = static_cast<std::int16_t>(m_values[kDebugMode]);
    s.windowState = static_cast<std::int16_t>(m_values[kWindowState]);
    s.volumeLevel = static_cast<std::int16_t>(m_values[kVolumeLevel]);
    s.speakerState = static_cast<std::int16_t>(m_values[kSpeakerState]);
    return s;
}

void Dispatcher::Timer1_Timer() {
    if (m_inTick || m_stopped) {
        return;
    }
    m_inTick = true;
    const auto token = m_alive;
    m_timer->stop();
    m_loop.yield();
    if (!*token) {
        return;
    }

    bool goOnTick = !m_stopped && collectResults();
    if (!*token) {
        return;
    }

    if (goOnTick && !m_held) {
        bool scan = true;
        const qint32 window = m_values[kGroupTimeWindow];
        if (window > 0) {
            const QDateTime now = m_loop.now();
            if (!m_lastScan) {
                m_lastScan = now;
            }
            if (EventLoop::secondsBetween(*m_lastScan, now) < window) {
                scan = false;
            }
        }
        if (scan) {
            goOnTick = dispatchScan();
            if (!*token) {
                return;
            }
        }
    }
    m_inTick = false;
    startTimer();
}

bool Dispatcher::collectResults() {
    const auto token = m_alive;
    m_ports.reportHeld(m_numPorts);
    if (!goOn(token)) {
        return false;
    }
    const PortRuns::Settle settle = [this](int s, const PortRecord& rec, std::int16_t status) {
        return this->settle(s, rec, status);
    };
    // The port list may change inside an event handler; it is read afresh.
    for (int p = 1; p <= m_numPorts; ++p) {
        m_ports.watch(p, m_loop.now(), m_values[kTimeout] + kSilenceMarginSeconds,
                      kStopGraceSeconds);
        if (!m_ports.collect(p, m_queue, recordSettings(), settle, m_finishing)) {
            return false;
        }
        if (!goOn(token)) {
            return false;
        }
    }
    return true;
}

PortActivity Dispatcher::activity(int position) const {
    if (position < 1 || position > kMaxPorts) return {};
    return m_activity[static_cast<size_t>(position)];
}

bool Dispatcher::settle(int s, const PortRecord& rec, std::int16_t status) {
    const auto token = m_alive;
    QueueSlot& slot = m_queue.at(s);
    const QString uid = conv::trim(rec.uniqueId), msg = conv::trim(rec.message),
                  phone = conv::trim(rec.phoneNumber), pin = conv::trim(rec.pin);
    bool release = false;
    const auto kind = static_cast<PortStatus>(status);
    const bool retried = (kind == PortStatus::Failed || kind == PortStatus::ModemError) &&
                         (rec.retries >= 0 && rec.retries < 32767 ? rec.retries : slot.Retries) <
                             m_values[kNumberOfRetries];
    noteResult(s, uid, kind, retried);
    // A page the orderly stop kept back is neither failed nor cancelled and
    // has no cause.
    if (kind == PortStatus::Failed || kind == PortStatus::ModemError ||
        (kind == PortStatus::Cancelled && !m_finishing)) {
        m_host.messageCause(uid, m_ports.causeOf(s, kind), retried);
        if (!*token) {
            return false;
        }
    }
    switch (kind) {
        case PortStatus::Sent:
            m_host.messageSent(uid, msg, phone, pin);
            release = true;
            break;
        case PortStatus::Cancelled:
            // A message the orderly stop kept from going out is not
            // cancelled: it waits, and goes out after the next start.
            if (m_finishing) {
                break;
            }
            m_host.messageCancelled(uid, msg, phone, pin);
            release = true;
            break;
        case PortStatus::Failed:
        case PortStatus::ModemError: {
            // The record's count is the dialer's copy; a value it mangled
            // falls back to the control's own.
            const std::int16_t tried =
                rec.retries >= 0 && rec.retries < 32767 ? rec.retries : slot.Retries;
            if (tried < m_values[kNumberOfRetries]) {
                slot.LastTry = m_loop.now();
                slot.Retries = static_cast<std::int16_t>(tried + 1);
            } else {
                const std::int16_t flag = static_cast<PortStatus>(status) == PortStatus::ModemError
                                              ? rec.comPort
                                              : std::int16_t{0};
                m_host.messageFailed(uid, msg, phone, pin, flag);
                release = true;
            }
            break;
        }
        default:
            break;
    }
    if (!*token) {
        return false;
    }
    if (release) {
        m_queue.release(s);
    }
    slot.InProgress = false;
    m_ports.release(s);
    return !m_stopped;
}

void Dispatcher::noteResult(int s, const QString& uid, PortStatus kind, bool retried) {
    const int p = m_ports.portOf(s);
    if (p < 1 || p > kMaxPorts) return;
    // A page the orderly stop kept back is not a result.
    if (kind == PortStatus::Cancelled && m_finishing) return;
    PortActivity& a = m_activity[static_cast<size_t>(p)];
    a.lastId = uid;
    a.lastAt = m_loop.now();
    switch (kind) {
        case PortStatus::Sent:
            a.lastResult = QStringLiteral("sent");
            break;
        case PortStatus::Cancelled:
            a.lastResult = QStringLiteral("cancelled");
            break;
        default:
            a.lastResult = retried ? QStringLiteral("retried") : QStringLiteral("failed");
            break;
    }
    a.lastCause = kind == PortStatus::Sent ? QString() : m_ports.causeOf(s, kind);
    // The run is over once its last page is settled.
    if (a.batch > 0 && --a.batch == 0) a.since = a.lastAt;
}

bool Dispatcher::dispatchScan() {
    const auto token = m_alive;
    for (;;) {
        const QDateTime now = m_loop.now();
        const double retryDelay = m_values[kRetryDelay];
        const int picked = m_held ? 0 : m_queue.pickOldestEligible(now, retryDelay);
        if (picked == 0) {
            break;
        }
        const int p = m_ports.findFree(m_numPorts);
        if (p == 0) {
            break;
        }
        const std::vector<int> batch =
            m_queue.gatherBatch(m_queue.at(picked).PhoneNumber, now, retryDelay);
        // Held from writing the batch until the dialer is started, which
        // then holds it for its run.
        PortLock lock(m_ports.workingDirectory(), p);
        if (!m_ports.lock(lock, p) || !m_ports.writeBatch(p, m_portList[static_cast<size_t>(p)],
                                                          batch, m_queue, recordSettings())) {
            break;
        }
        PortActivity& activity = m_activity[static_cast<size_t>(p)];
        const PortActivity before = activity;
        activity.batch = static_cast<int>(batch.size());
        activity.since = now;
        if (!waitDialingDelay()) {
            return false;
        }
        if (m_held) {
            // Held while the dialing delay passed: no new run starts.
            lock.release();
            m_ports.withdraw(p, m_queue);
            m_activity[static_cast<size_t>(p)] = before;
            break;
        }
        lock.release();
        if (!m_ports.startDialer(p, m_systemDir) && !goOn(token)) {
            return false;
        }
    }
    m_loop.yield();
    if (!goOn(token)) {
        return false;
    }
    m_lastScan = m_loop.now();
    return true;
}

bool Dispatcher::finishRuns(double maxSeconds) {
    const auto token = m_alive;
    m_held = true;
    m_finishing = true;
    // The collection below is the only one until the end: a timer tick
    // firing inside one of its waits or events must not collect the same
    // port at the same time.
    m_inTick = true;
    struct TickEnd {
        Dispatcher* d;
        std::shared_ptr<bool> token;
        ~TickEnd() {
            if (*token) {
                d->m_inTick = false;
            }
        }
    } tickEnd{this, token};
    for (int p = 1; p <= kMaxPorts; ++p) {
        m_ports.withdraw(p, m_queue);
    }
    m_ports.stopRuns(false);
    const QDateTime from = m_loop.now();
    std::optional<QDateTime> forced;
    while (m_ports.anyRun()) {
        if (!collectResults() || !goOn(token)) {
            return false;
        }
        if (!m_ports.anyRun()) {
            break;
        }
        const QDateTime now = m_loop.now();
        if (!forced && EventLoop::secondsBetween(from, now) >= maxSeconds) {
            m_ports.stopRuns(true);
            forced = now;
        } else if (forced && EventLoop::secondsBetween(*forced, now) >= kForcedEndSeconds) {
            // A dialer that cannot even be killed keeps its port file; the
            // next start-up reads what it says.
            break;
        }
        m_loop.waitFor(kFinishPollSeconds);
        if (!goOn(token)) {
            return false;
        }
    }
    return true;
}

bool Dispatcher::waitDialingDelay() {
    const auto token = m_alive;
    const QDateTime from = m_loop.now();
    for (;;) {
        // Read on every round: the host may change it while the tick waits.
        const double delay = m_values[kDialingDelay];
        const double passed = EventLoop::secondsBetween(from, m_loop.now());
        if (passed > delay) {
            return true;
        }
        m_loop.waitFor(std::max(delay - passed, 0.001));
        if (!goOn(token)) {
            return false;
        }
    }
}

}  // namespace vts
