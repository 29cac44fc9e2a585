#pragma once

#include "CauseFile.h"
#include "PortRecord.h"
#include "SendQueue.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vts {

class Dialogs;
class Launcher;
class ProcessHandle;

// The control's values that travel in every record it writes.
struct RecordSettings {
    std::int16_t timeout = 0, debugMode = 0, windowState = 0, volumeLevel = 0, speakerState = 0;
};

// The port files and the dialer runs on them: writes a batch into a free
// port's file, starts the dialer for it, keeps out of ports that a dialer
// of an earlier run still holds, and collects a finished batch (read with
// PortBatch) back into the send queue. Every port-file access goes through
// one record buffer, as the file's contract has it: a read that succeeds
// replaces the buffer, a write takes its bytes from it. It remembers which
// port's run holds each slot, so a record can only settle a message that
// this port's run was given.
class PortRuns final {
public:
    static constexpr int kPorts = portfile::kPortFiles;

    // Settles slot s by `status` with the texts of `rec`; false when the
    // tick must end (the control is gone or stopped).
    using Settle = std::function<bool(int s, const PortRecord& rec, std::int16_t status)>;

    PortRuns(Dialogs& dialogs, Launcher& launcher, QString workingDir,
             std::function<void(const QString&)> notice);
    ~PortRuns();
    PortRuns(const PortRuns&) = delete;
    PortRuns& operator=(const PortRuns&) = delete;

    void setDevice(PortFileDevice& device) { m_device = &device; }
    // Called with a port index when a dialer outside this control lets go
    // of that port's file, before the file is reset.
    std::function<void(int)> onReleased;
    const QString& workingDirectory() const { return m_workingDir; }

    // At creation: deletes every port file no dialer holds any more.
    void deletePortFiles();
    // Frees port p for a new port list entry (or marks it to be freed once
    // its hold ends); a run it cuts off keeps its messages.
    void reset(int p);
    // Tells the host about ports 1..numPorts held by another dialer, and
    // frees those that were let go.
    void reportHeld(int numPorts);
    // The lowest port of 1..numPorts whose header is Idle (and that `usable`
    // accepts, when given), or 0.
    int findFree(int numPorts, const std::function<bool(int)>& usable = {});
    // Whether port p's header is Idle and no other dialer holds it.
    bool isFree(int p);
    // Takes port p's lock, or marks the port held by another dialer (and
    // tells the host once); a port that is free again is reset and said so.
    bool lock(PortLock& lock, int p);

    // Writes `batch` (slot numbers) as port p's batch for `comPort`, header
    // last. A batch that cannot be written whole is taken back: its
    // messages stay waiting and the port stays free.
    bool writeBatch(int p, std::int16_t comPort, const std::vector<int>& batch, SendQueue& queue,
                    const RecordSettings& settings);
    // Starts the dialer for port p. A start that fails shows its message,
    // leaves the run to be collected as failed and returns false at once
    // after the message box, touching nothing (the host may be gone).
    bool startDialer(int p, const QString& systemDir);

    // Collects port p when its batch is finished (or its dialer is gone):
    // settles each message of the run, then frees the port. False when the
    // tick must end. With `stopping` (the orderly stop), a message the run
    // left unmarked because it was ended settles as cancelled, not failed.
    bool collect(int p, SendQueue& queue, const RecordSettings& settings, const Settle& settle,
                 bool stopping = false);

    // Takes back port p's batch when it was written but its dialer not yet
    // started: its messages wait again and the port is free.
    void withdraw(int p, SendQueue& queue);
    // Asks every dialer of this control still running to stop; with `force`
    // ends them at once.
    void stopRuns(bool force);
    // Whether a dialer outside this control holds port p's file.
    bool isHeld(int p) const { return m_held[static_cast<size_t>(p)]; }
    // Whether any port still has a run of this control to collect.
    bool anyRun() const;
    // Whether port p has a run of this control to collect.
    bool onLine(int p) const;
    // Watches port p's running dialer for signs of life: a change of its
    // port file (a record written, or the time stamp the dialer renews while
    // it waits). A run silent for more than `limitSeconds` is asked to stop,
    // and ended `graceSeconds` later if it is still there; its unmarked
    // messages then fail like those of any dialer that is gone.
    void watch(int p, const QDateTime& now, double limitSeconds, double graceSeconds);

    // While collect() settles slot s with `status`: why the page was not
    // delivered, as the dialer wrote it beside the port file, or as the
    // control knows it (the dialer could not be started, or ended without a
    // result).
    QString causeOf(int s, PortStatus status) const;
    // While collect() settles: whether the service refused slot s for good,
    // and how the run's port failed as a whole (with the dialer's words).
    bool refusedForGood(int s) const { return m_final.contains(s); }
    causefile::PortFault runFault() const { return m_fault; }
    const QString& runFaultWhy() const { return m_faultWhy; }
    // Called at the start of each collection with the port and how its run
    // failed as a whole (None when its carrier answered).
    std::function<void(int p, causefile::PortFault, const QString& why)> onRunEnded;

    // The port whose run holds slot s (0: none); release() forgets it.
    int portOf(int s) const { return m_portOf[static_cast<size_t>(s)]; }
    void release(int s) { m_portOf[static_cast<size_t>(s)] = 0; }

    // Everything of a message record but Reserved1, which stays as `rec`
    // holds it.
    static void fillRecord(PortRecord& rec, const QueueSlot& slot, int s, std::int16_t comPort,
                           const RecordSettings& settings);

private:
    // What is known about the dialer run on one port index.
    struct Run {
        std::shared_ptr<ProcessHandle> dialer;
        bool startFailed = false;
        bool written = false;      // a batch is in the file, its dialer not yet started
        std::int16_t comPort = 0;  // the COM port the batch was written for
        QByteArray lastSign;       // the port file's time stamp and size when last seen
        QDateTime lastChange;      // when it last changed
        std::optional<QDateTime> stopAsked;
    };

    QString portPath(int p) const;
    std::optional<PortRecord> readRecord(int p, int r);
    bool writeBuffer(int p, int r);

    Dialogs& m_dialogs;
    Launcher& m_launcher;
    QString m_workingDir;
    std::function<void(const QString&)> m_notice;
    PortFileDevice* m_device = &PortFileDevice::system();
    PortRecord m_buffer;
    std::array<Run, kPorts + 1> m_runs;
    std::array<std::int8_t, SendQueue::kSlots + 1> m_portOf{};
    // Port indexes whose file a dialer outside this control holds; `told`
    // marks the ones the host has been told about.
    std::array<bool, kPorts + 1> m_held{};
    std::array<bool, kPorts + 1> m_told{};
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // The causes of the run being collected, by slot, and the cause of a
    // page the dialer gave none.
    QHash<int, QString> m_causes;
    QSet<int> m_final;
    causefile::PortFault m_fault = causefile::PortFault::None;
    QString m_faultWhy;
    QString m_causeFallback;
};

}  // namespace vts
