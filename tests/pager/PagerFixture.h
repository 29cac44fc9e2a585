#pragma once

#include "Dialogs.h"
#include "Launcher.h"
#include "PagerOCX.h"
#include "PortRecord.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "SendQueue.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"

#include <QDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vts::test {

// One batch as the stand-in dialer found it in a port file.
struct DialerRun {
    int port = 0;
    QStringList arguments;
    QString workingDirectory;
    QDateTime startedAt;
    PortRecord header;
    std::vector<PortRecord> records;
    std::shared_ptr<RecordingLauncher::Handle> handle;
};

// Plays the dialer's part through the launcher: reads the batch from the
// port file named by its argument and, as its script says, writes record
// and header statuses back at once. A script returning nullopt leaves the
// header Busy and the process "running" (the test finishes it later).
class StandInDialer {
public:
    using Script = std::function<std::optional<int>(DialerRun&)>;

    StandInDialer(RecordingLauncher& launcher, VirtualEventLoop& loop, QString dir);

    static std::optional<int> allSent(DialerRun& run);
    // Every record and the header get `status`.
    static Script all(int status);

    Script script = allSent;
    bool refuseStart = false;
    std::vector<DialerRun> runs;

private:
    VirtualEventLoop& m_loop;
    QString m_dir;
};

// What the control raised, in order.
struct RaisedEvent {
    enum Kind { Sent, Failed, Cancelled } kind;
    QString uniqueId, message, phone, pin;
    int flag = 0;
    QDateTime at;
    int queueCount = 0;  // QueueCount inside the handler
};

// A control in a fresh working directory on virtual time, with scripted
// dialogs, a stand-in dialer and a system directory that holds "calvex".
class PagerTest : public TempDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A control with the new-instance values; dispatch made immediate
    // (GroupTimeWindow 0, DialingDelay 0) unless `immediate` is false.
    PagerOCX& makePager(bool immediate = true);
    void removeDialer();
    // Moves virtual time on by n ticks of the dispatch timer. Each tick that
    // dispatches waits a little past its dialing delay, so a tick is given
    // 10 ms of slack.
    void ticks(int n = 1) { loop.advance(n * 1.01); }
    void send(const QString& uid, const QString& phone = QStringLiteral("5551000"),
              const QString& message = QStringLiteral("hello"));

    PortRecord readRecord(int port, int r);
    int headerStatus(int port) { return readRecord(port, 1).status; }
    void writeRecordStatus(int port, int r, int status);
    const QueueSlot& slot(int n) { return pager->queue().at(n); }
    QStringList eventIds() const;

    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    std::unique_ptr<StandInDialer> dialer;
    std::unique_ptr<PagerOCX> pager;
    std::vector<RaisedEvent> events;
    std::function<void(const RaisedEvent&)> onEvent;
    QString sysDir;
};

}  // namespace vts::test
