#pragma once

#include "PagerProperties.h"
#include "PortActivity.h"
#include "PortRuns.h"
#include "Routes.h"
#include "SendQueue.h"

#include <QDateTime>
#include <QSet>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vts {

class Dialogs;
class EventLoop;
class Launcher;
class Timer;

// The pager control's dispatch: the send queue, the port list and the
// one-second timer. Each tick collects the finished runs (raising one final
// event per message, or scheduling its retry), then, no more often than the
// group window allows, hands the oldest waiting message and every other one
// for its number to a free port's dialer. Events go to the Host inside the
// tick; the host may send, change properties, stop or even destroy the
// control from its handlers, and the tick ends at once when it does.
//
// Those waits are for modems, which need time between calls and save a
// costly call by batching. A port whose calvex.ini entry names a network
// carrier (a connection costs milliseconds) skips them: a batch for it
// starts as soon as its number's oldest page has waited the short
// coalescing window and the port is free, and while such a run is on the
// line its end is looked for every few milliseconds. A number whose batch
// is on a network port keeps its new pages for its next batch instead of
// starting a second, small one beside it. Modem ports keep every wait.
class Dispatcher final {
public:
    // What a tick reports to the control it works for.
    class Host {
    public:
        virtual ~Host() = default;
        virtual void messageSent(const QString& uid, const QString& msg, const QString& phone,
                                 const QString& pin) = 0;
        virtual void messageCancelled(const QString& uid, const QString& msg, const QString& phone,
                                      const QString& pin) = 0;
        virtual void messageFailed(const QString& uid, const QString& msg, const QString& phone,
                                   const QString& pin, std::int16_t modemErrorFlag) = 0;
        virtual void notice(const QString& text) = 0;
        // Why a page was not delivered, told just before its final event
        // (`retried` false) or when it waits to be tried again (true).
        virtual void messageCause(const QString& uid, const QString& cause, bool retried) {
            (void)uid, (void)cause, (void)retried;
        }
    };

    static constexpr int kMaxPorts = PortRuns::kPorts;
    // How often the orderly stop looks for finished runs, and how long it
    // waits for a killed dialer to be gone.
    static constexpr double kFinishPollSeconds = 0.2;
    static constexpr double kForcedEndSeconds = 5;
    // A dialer run silent for longer than the record's Timeout plus this
    // margin hangs (a live one renews its port file's time stamp every few
    // seconds), and is ended this long after it was asked to stop.
    static constexpr double kSilenceMarginSeconds = 30;
    static constexpr double kStopGraceSeconds = 10;
    // A port its routes passed over is tried again no sooner than this.
    static constexpr double kRouteProbeSeconds = 60;
    // Network ports: pages for one number that arrive within this window of
    // its first one share a run; a run on the line is looked for this often.
    static constexpr int kCoalesceMs = 100;
    static constexpr int kNetworkPollMs = 20;

    // The COM ports that the calvex.ini at `settingsPath` gives a network
    // carrier; asked again whenever the file changes. Without it every port
    // is a modem.
    using NetworkPorts = std::function<QSet<int>(const QString& settingsPath)>;

    // `values` are the control's properties, read afresh wherever used.
    Dispatcher(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, const QString& workingDir,
               const pagerprops::Values& values, Host& host);
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    SendQueue& queue() { return m_queue; }
    const SendQueue& queue() const { return m_queue; }
    PortRuns& ports() { return m_ports; }
    // Port position 1..kMaxPorts; a default one beyond.
    PortActivity activity(int position) const;
    void setSystemDirectory(const QString& dir) { m_systemDir = dir; }
    void setNetworkPorts(NetworkPorts probe);
    // Whether the port at `position` is served by a network carrier.
    bool isNetworkPort(int position) const;

    // The port list: positions 1..numPorts, each a COM port number.
    int numPorts() const { return m_numPorts; }
    std::int16_t portAt(int position) const;
    void clearPorts() { m_numPorts = 0; }
    // Appends a port (nothing when the list is full) and frees its file.
    void addPort(std::int16_t comPort);
    // Makes the list this one port; its file is freed when the port changes.
    void setOnlyPort(std::int16_t comPort);

    // Puts a new message into free slot n and starts the timer.
    void place(int n, QueueSlot slot);
    void startTimer();
    // Stops dispatching for good.
    void stop();
    // While held no new dialer run starts; runs on the line go on and are
    // collected.
    void setHeld(bool held) { m_held = held; }
    bool inTick() const { return m_inTick; }
    // What is known of the port at `position` (1..8): unusable until its
    // settings change (the SIM refused its PIN), or passed over by its
    // routes because it could not reach its carrier; `reason` in words.
    struct PortState {
        bool unusable = false;
        bool passedOver = false;
        QString reason;
        QDateTime since;          // when it was last found so
        QDateTime settingsStamp;  // calvex.ini's time when it became unusable
    };
    PortState portState(int position) const;
    // The routes in force (read from calvex.ini, again whenever it changes).
    const Routes& routes() const { return m_routes; }

    // The orderly stop: holds dispatch, takes back batches not yet handed to
    // a dialer, asks every dialer on the line to stop (it ends the page in
    // hand and hangs up) and collects their results, for at most
    // `maxSeconds`; a dialer still running then is ended at once. A message
    // that did not go out because of the stop is not settled: it stays
    // waiting, with no event. False when the control went away meanwhile.
    bool finishRuns(double maxSeconds);

private:
    enum class PortClass { Modem, Network };

    void Timer1_Timer();
    // The network ports' own pass, between the ticks: collects their runs
    // and starts the batches that are ready for them.
    void quickTick();
    bool collectNetwork();
    bool dispatchNetwork();
    void armQuick(int ms);
    bool networkWork() const;
    bool inClass(int p, PortClass c) const { return isNetworkPort(p) == (c == PortClass::Network); }
    // Each returns false when the tick must end at once (the control was
    // destroyed or dispatching stopped from inside an event handler).
    bool collectResults();
    bool settle(int s, const PortRecord& rec, std::int16_t status);
    void noteResult(int s, const QString& uid, PortStatus kind, bool retried);
    bool dispatchScan();
    bool waitDialingDelay();
    RecordSettings recordSettings() const;
    // Reads calvex.ini's routes again when the file changed; an unusable
    // port is used again once its settings changed.
    void refreshSettings();
    // A free port of class `c` that may carry the pages for `phone` (its
    // route's first that is free and working, when that one is of class
    // `c`), or 0.
    int portFor(const QString& phone, PortClass c);
    // Writes the batch of `phone`'s eligible slots into port p and starts
    // its dialer, after the dialing delay unless p is a network port. False
    // when the tick must end; `go` false when the scan should stop.
    bool startBatch(int p, const QString& phone, bool* go);
    bool working(int p) const;
    // Whether `phone`'s route has a port other than p that can be tried now.
    bool otherRoutePort(const QString& phone, int p) const;
    void portFailed(int p, causefile::PortFault fault, const QString& why);
    QString settingsPath() const;
    bool goOn(const std::shared_ptr<bool>& token) const { return *token && !m_stopped; }

    EventLoop& m_loop;
    const pagerprops::Values& m_values;
    Host& m_host;
    QString m_systemDir;
    SendQueue m_queue;
    PortRuns m_ports;
    std::array<std::int16_t, kMaxPorts + 1> m_portList{};
    int m_numPorts = 0;
    std::unique_ptr<Timer> m_timer;
    std::unique_ptr<Timer> m_quick;  // single shot: the network ports' pass
    NetworkPorts m_networkProbe;
    QSet<int> m_networkComs;
    bool m_inQuick = false;
    bool m_inDialingWait = false;
    std::optional<QDateTime> m_lastScan;
    bool m_inTick = false;
    bool m_stopped = false;
    bool m_held = false;
    bool m_finishing = false;
    std::array<PortActivity, kMaxPorts + 1> m_activity{};
    // Outlives the dispatcher, so that a tick can tell, after raising an
    // event or yielding, whether the host destroyed the control meanwhile.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    Routes m_routes;
    QString m_settingsSign;  // calvex.ini's time stamp and size when last read
    QDateTime m_settingsTime;
    std::array<PortState, kMaxPorts + 1> m_state{};
    QSet<QString> m_toldWaiting;  // numbers whose every route port is down, told once
};

}  // namespace vts
