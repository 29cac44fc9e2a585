#include "Dispatcher.h"

#include "Conversions.h"
#include "EventLoop.h"
#include "Paths.h"

#include <QFileInfo>

#include <algorithm>

namespace vts {

using namespace pagerprops;

Dispatcher::Dispatcher(EventLoop& loop, Dialogs& dialogs, Launcher& launcher,
                       const QString& workingDir, const Values& values, Host& host)
    : m_loop(loop),
      m_values(values),
      m_host(host),
      m_ports(dialogs, launcher, workingDir, [this](const QString& text) { m_host.notice(text); }),
      m_timer(loop.createTimer(1000, [this] { Timer1_Timer(); })),
      m_quick(loop.createTimer(kCoalesceMs, [this] { quickTick(); })) {
    m_quick->setSingleShot(true);
    m_ports.onRunEnded = [this](int p, causefile::PortFault fault, const QString& why) {
        portFailed(p, fault, why);
    };
    refreshSettings();
}

QString Dispatcher::settingsPath() const {
    return paths::settingsFile(QStringLiteral("calvex.ini"), m_ports.workingDirectory());
}

void Dispatcher::refreshSettings() {
    const QFileInfo info(settingsPath());
    const QString sign = info.exists() ? QString::number(info.lastModified().toMSecsSinceEpoch()) +
                                             u' ' + QString::number(info.size())
                                       : QString();
    if (sign == m_settingsSign && !m_settingsTime.isNull()) {
        return;
    }
    const bool changed = !m_settingsTime.isNull();
    m_settingsSign = sign;
    m_settingsTime = m_loop.now();
    const bool wasActive = m_routes.active();
    m_routes = Routes::load(info.filePath());
    m_networkComs = m_networkProbe ? m_networkProbe(info.filePath()) : QSet<int>();
    for (const QString& bad : m_routes.problems()) {
        m_host.notice(QStringLiteral("Error: calvex.ini [routes]: \"%1\" is not NUMBER = COMn, "
                                     "COMn...; that number has no route")
                          .arg(bad));
    }
    m_toldWaiting.clear();
    if (!changed) {
        return;
    }
    for (int p = 1; p <= kMaxPorts; ++p) {
        PortState& st = m_state[static_cast<size_t>(p)];
        if (st.unusable) {
            m_host.notice(QStringLiteral("calvex.ini changed; port %1 (COM%2) is used again")
                              .arg(p)
                              .arg(portAt(p)));
        }
        if (st.unusable || (!m_routes.active() && wasActive)) {
            st = {};
        }
    }
}

Dispatcher::PortState Dispatcher::portState(int position) const {
    if (position < 1 || position > kMaxPorts) {
        return {};
    }
    return m_state[static_cast<size_t>(position)];
}

void Dispatcher::portFailed(int p, causefile::PortFault fault, const QString& why) {
    if (p < 1 || p > kMaxPorts) {
        return;
    }
    PortState& st = m_state[static_cast<size_t>(p)];
    if (fault == causefile::PortFault::Unusable) {
        if (!st.unusable) {
            m_host.notice(QStringLiteral("Error: port %1 (COM%2) is unusable: %3; it is not used "
                                         "until its settings in calvex.ini change")
                              .arg(p)
                              .arg(portAt(p))
                              .arg(why));
        }
        st.unusable = true;
        st.reason = why;
        st.since = m_loop.now();
        st.settingsStamp = m_settingsTime;
        return;
    }
    if (fault != causefile::PortFault::Unreachable || !m_routes.active()) {
        return;
    }
    if (!st.passedOver) {
        m_host.notice(QStringLiteral("Error: route failover: COM%1 cannot reach its carrier (%2); "
                                     "its numbers go to the next port of their route")
                          .arg(portAt(p))
                          .arg(why));
    }
    st.passedOver = true;
    st.reason = QStringLiteral("route failover: ") + why;
    st.since = m_loop.now();
}

bool Dispatcher::working(int p) const {
    const PortState& st = m_state[static_cast<size_t>(p)];
    if (st.unusable) {
        return false;
    }
    // A port passed over is tried again once the retry delay (at least
    // kRouteProbeSeconds) has passed since it last failed: that is how it is
    // found working again.
    return !st.passedOver || EventLoop::secondsBetween(st.since, m_loop.now()) >
                                 std::max<double>(m_values[kRetryDelay], kRouteProbeSeconds);
}

bool Dispatcher::otherRoutePort(const QString& phone, int p) const {
    for (const int com : m_routes.routeOf(phone)) {
        for (int q = 1; q <= m_numPorts; ++q) {
            if (q != p && portAt(q) == com && !m_state[static_cast<size_t>(q)].unusable &&
                !m_state[static_cast<size_t>(q)].passedOver) {
                return true;
            }
        }
    }
    return false;
}

int Dispatcher::portFor(const QString& phone, PortClass c) {
    if (!m_routes.active()) {
        return m_ports.findFree(m_numPorts,
                                [this, c](int p) { return inClass(p, c) && working(p); });
    }
    const QList<int> route = m_routes.routeOf(phone);
    if (route.isEmpty()) {
        return m_ports.findFree(m_numPorts, [&](int p) {
            return inClass(p, c) && working(p) && m_routes.allows(phone, portAt(p));
        });
    }
    bool anyWorking = false;
    for (const int com : route) {
        for (int p = 1; p <= m_numPorts; ++p) {
            if (portAt(p) != com || !working(p)) {
                continue;
            }
            anyWorking = true;
            if (m_ports.isFree(p)) {
                m_toldWaiting.remove(Routes::digits(phone));
                // The route's choice; a port of the other class is left to
                // that class's own dispatch.
                return inClass(p, c) ? p : 0;
            }
        }
    }
    if (!anyWorking && !m_toldWaiting.contains(Routes::digits(phone))) {
        m_toldWaiting.insert(Routes::digits(phone));
        QStringList names;
        for (const int com : route) {
            names << QStringLiteral("COM%1").arg(com);
        }
        m_host.notice(QStringLiteral("Error: no port of the route for %1 (%2) can be used; its "
                                     "pages wait")
                          .arg(phone.trimmed(), names.join(QStringLiteral(", "))));
    }
    return 0;
}

Dispatcher::~Dispatcher() {
    *m_alive = false;
    if (m_timer) {
        m_timer->stop();
    }
    if (m_quick) {
        m_quick->stop();
    }
}

void Dispatcher::setNetworkPorts(NetworkPorts probe) {
    m_networkProbe = std::move(probe);
    m_networkComs = m_networkProbe ? m_networkProbe(settingsPath()) : QSet<int>();
}

bool Dispatcher::isNetworkPort(int position) const {
    return position >= 1 && position <= m_numPorts && m_networkComs.contains(portAt(position));
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
    if (!m_networkComs.isEmpty()) {
        armQuick(kCoalesceMs);
    }
}

void Dispatcher::startTimer() {
    if (!m_stopped) {
        m_timer->setEnabled(true);
    }
}

void Dispatcher::stop() {
    m_stopped = true;
    m_timer->stop();
    m_quick->stop();
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
    if (m_inTick || m_inQuick || m_stopped) {
        return;
    }
    m_inTick = true;
    const auto token = m_alive;
    m_timer->stop();
    m_loop.yield();
    if (!*token) {
        return;
    }

    refreshSettings();
    bool goOnTick = !m_stopped && collectResults();
    if (!*token) {
        return;
    }

    if (goOnTick && !m_held && !m_networkComs.isEmpty()) {
        goOnTick = dispatchNetwork();
        if (!*token) {
            return;
        }
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
    if (goOnTick && !m_networkComs.isEmpty() && networkWork()) {
        armQuick(kNetworkPollMs);
    }
}

void Dispatcher::armQuick(int ms) {
    if (m_stopped || m_quick->isActive()) {
        return;
    }
    m_quick->setInterval(ms);
    m_quick->start();
}

bool Dispatcher::networkWork() const {
    for (int p = 1; p <= m_numPorts; ++p) {
        if (isNetworkPort(p) && m_ports.onLine(p)) {
            return true;
        }
    }
    // Pages still inside their coalescing window are started by the next pass.
    const QDateTime young = m_loop.now().addMSecs(-kCoalesceMs);
    for (int n = 1; n <= SendQueue::kSlots; ++n) {
        const QueueSlot& s = m_queue.at(n);
        if (s.occupied() && !s.InProgress && s.Retries == 0 && s.SubmitTime > young) {
            return true;
        }
    }
    return false;
}

void Dispatcher::quickTick() {
    if (m_stopped || m_finishing || m_inQuick || m_networkComs.isEmpty()) {
        return;
    }
    // A tick is under way: only while it waits a modem's dialing delay may
    // the network ports go on beside it; otherwise the pass comes later.
    if (m_inTick && !m_inDialingWait) {
        armQuick(kNetworkPollMs);
        return;
    }
    m_inQuick = true;
    const auto token = m_alive;
    refreshSettings();
    bool go = collectNetwork();
    if (!*token) {
        return;
    }
    if (go && !m_held) {
        go = dispatchNetwork();
        if (!*token) {
            return;
        }
    }
    m_inQuick = false;
    if (go && networkWork()) {
        armQuick(kNetworkPollMs);
    }
}

bool Dispatcher::collectNetwork() {
    const auto token = m_alive;
    const PortRuns::Settle settle = [this](int s, const PortRecord& rec, std::int16_t status) {
        return this->settle(s, rec, status);
    };
    for (int p = 1; p <= m_numPorts; ++p) {
        if (!isNetworkPort(p)) {
            continue;
        }
        m_ports.watch(p, m_loop.now(), m_values[kTimeout] + kSilenceMarginSeconds,
                      kStopGraceSeconds);
        if (!m_ports.collect(p, m_queue, recordSettings(), settle, m_finishing) || !goOn(token)) {
            return false;
        }
    }
    return true;
}

bool Dispatcher::dispatchNetwork() {
    const auto token = m_alive;
    for (;;) {
        const QDateTime now = m_loop.now();
        const QDateTime ripe = now.addMSecs(-kCoalesceMs);
        const double retryDelay = m_values[kRetryDelay];
        // Numbers with a batch on a network port: their newer pages wait for
        // that number's next batch, which takes them all.
        QSet<QString> onLine;
        std::vector<int> waiting;
        for (int n = 1; n <= SendQueue::kSlots; ++n) {
            const QueueSlot& s = m_queue.at(n);
            if (s.occupied() && s.InProgress && isNetworkPort(m_ports.portOf(n))) {
                onLine.insert(s.PhoneNumber);
            } else if (SendQueue::isEligible(s, now, retryDelay)) {
                waiting.push_back(n);
            }
        }
        std::stable_sort(waiting.begin(), waiting.end(), [this](int a, int b) {
            return m_queue.at(a).SubmitTime < m_queue.at(b).SubmitTime;
        });
        QSet<QString> tried;
        int p = 0;
        QString phone;
        for (const int n : waiting) {
            const QueueSlot& s = m_queue.at(n);
            if (s.SubmitTime > ripe) {
                break;  // this page and every later one are still gathering
            }
            if (tried.contains(s.PhoneNumber) || onLine.contains(s.PhoneNumber)) {
                continue;
            }
            tried.insert(s.PhoneNumber);
            p = portFor(s.PhoneNumber, PortClass::Network);
            if (p != 0) {
                phone = s.PhoneNumber;
                break;
            }
            if (!m_routes.active()) {
                break;  // no network port is free for any number
            }
        }
        if (p == 0) {
            return true;
        }
        bool go = true;
        if (!startBatch(p, phone, &go)) {
            return false;
        }
        if (!go) {
            return true;
        }
    }
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
    const bool failed = kind == PortStatus::Failed || kind == PortStatus::ModemError;
    const int p = m_ports.portOf(s);
    // Refused by the service for itself: a retry cannot deliver it.
    const bool final = kind == PortStatus::Failed && m_ports.refusedForGood(s);
    // The run's port could not reach its carrier and the route has another
    // port: the page goes there at once, and the attempt does not count.
    const bool failover = failed && !final && m_routes.active() &&
                          m_ports.runFault() == causefile::PortFault::Unreachable &&
                          otherRoutePort(phone, p);
    const bool retried =
        failover || (failed && !final &&
                     (rec.retries >= 0 && rec.retries < 32767 ? rec.retries : slot.Retries) <
                         m_values[kNumberOfRetries]);
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
            if (p > 0 && m_state[static_cast<size_t>(p)].passedOver) {
                m_state[static_cast<size_t>(p)] = {};
                m_host.notice(
                    QStringLiteral("Route: COM%1 reaches its carrier again and is used first "
                                   "again")
                        .arg(portAt(p)));
                if (!*token) {
                    return false;
                }
            }
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
            if (failover) {
                // Due again at once: a page never tried waits for nothing,
                // a retried one as if its retry delay had passed.
                slot.LastTry = m_loop.now().addMSecs(
                    -static_cast<qint64>(m_values[kRetryDelay]) * 1000 - 1000);
            } else if (retried) {
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
        int picked = m_held ? 0 : m_queue.pickOldestEligible(now, retryDelay);
        if (picked == 0) {
            break;
        }
        int p = 0;
        if (!m_routes.active()) {
            p = portFor(m_queue.at(picked).PhoneNumber, PortClass::Modem);
        } else {
            // Each number has ports of its own: the oldest number that has a
            // free one goes first, and a number whose ports are all busy or
            // down does not hold up the others.
            std::vector<int> waiting;
            for (int n = 1; n <= SendQueue::kSlots; ++n) {
                if (SendQueue::isEligible(m_queue.at(n), now, retryDelay)) {
                    waiting.push_back(n);
                }
            }
            std::stable_sort(waiting.begin(), waiting.end(), [this](int a, int b) {
                return m_queue.at(a).SubmitTime < m_queue.at(b).SubmitTime;
            });
            QSet<QString> tried;
            picked = 0;
            for (const int n : waiting) {
                const QString& phone = m_queue.at(n).PhoneNumber;
                if (tried.contains(phone)) {
                    continue;
                }
                tried.insert(phone);
                p = portFor(phone, PortClass::Modem);
                if (p != 0) {
                    picked = n;
                    break;
                }
            }
        }
        if (p == 0) {
            break;
        }
        bool go = true;
        if (!startBatch(p, m_queue.at(picked).PhoneNumber, &go)) {
            return false;
        }
        if (!go) {
            break;
        }
    }
    m_loop.yield();
    if (!goOn(token)) {
        return false;
    }
    m_lastScan = m_loop.now();
    return true;
}

bool Dispatcher::startBatch(int p, const QString& phone, bool* go) {
    const auto token = m_alive;
    const QDateTime now = m_loop.now();
    const std::vector<int> batch =
        m_queue.gatherBatch(phone, now, static_cast<double>(m_values[kRetryDelay]));
    // Held from writing the batch until the dialer is started, which then
    // holds it for its run.
    PortLock lock(m_ports.workingDirectory(), p);
    if (!m_ports.lock(lock, p) || !m_ports.writeBatch(p, m_portList[static_cast<size_t>(p)], batch,
                                                      m_queue, recordSettings())) {
        *go = false;
        return true;
    }
    PortActivity& activity = m_activity[static_cast<size_t>(p)];
    const PortActivity before = activity;
    activity.batch = static_cast<int>(batch.size());
    activity.since = now;
    if (!isNetworkPort(p)) {
        if (!waitDialingDelay()) {
            return false;
        }
        if (m_held) {
            // Held while the dialing delay passed: no new run starts.
            lock.release();
            m_ports.withdraw(p, m_queue);
            m_activity[static_cast<size_t>(p)] = before;
            *go = false;
            return true;
        }
    }
    lock.release();
    if (!m_ports.startDialer(p, m_systemDir) && !goOn(token)) {
        return false;
    }
    if (isNetworkPort(p) && !m_stopped) {
        armQuick(kNetworkPollMs);
    }
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
    // The network ports' pass may run while this waits (see quickTick).
    struct Waiting {
        Dispatcher* d;
        std::shared_ptr<bool> token;
        explicit Waiting(Dispatcher* dispatcher, std::shared_ptr<bool> t)
            : d(dispatcher), token(std::move(t)) {
            d->m_inDialingWait = true;
        }
        ~Waiting() {
            if (*token) {
                d->m_inDialingWait = false;
            }
        }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
    } waiting(this, token);
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
