#include "PagerFixture.h"

#include <QFile>

using namespace vts;
using namespace vts::test;

class DispatchTest : public PagerTest {
protected:
    double secondsSinceStart(const QDateTime& t) const {
        return EventLoop::secondsBetween(m_start, t);
    }
    void SetUp() override {
        PagerTest::SetUp();
        m_start = loop.now();
    }
    static std::optional<int> neverFinish(DialerRun&) { return std::nullopt; }

    QDateTime m_start;
};

TEST_F(DispatchTest, WaitingPagesForOneNumberShareARunInSlotOrder) {
    makePager(false);  // GroupTimeWindow 5, DialingDelay 2
    pager->setGroupTimeWindow(10);
    pager->AddComPort(3);
    pager->AddComPort(4);
    send("a", "5551");
    loop.advance(3);
    send("b", "5552");
    pager->SendNumeric("42", "5551", "7", "c");
    loop.advance(3);
    pager->SendAscii("file page", "5551", "99", "note.txt", 0, "d");
    dialer->script = neverFinish;

    loop.advance(4.5);  // the window starts at the first tick, at 1 s
    EXPECT_TRUE(launcher.requests.empty());
    loop.advance(1);
    // The scan at 11 s starts one run per number, one per free port, each
    // after its own dialing delay.
    ASSERT_EQ(dialer->runs.size(), 2u);
    const DialerRun& first = dialer->runs[0];
    EXPECT_EQ(first.port, 1);
    EXPECT_EQ(first.header.status, 1);
    EXPECT_EQ(first.header.index, 3);
    ASSERT_EQ(first.records.size(), 3u);
    EXPECT_EQ(first.records[0].index, 1);
    EXPECT_EQ(first.records[1].index, 3);
    EXPECT_EQ(first.records[2].index, 4);
    EXPECT_EQ(toInt(first.records[1].kind), 1);
    EXPECT_EQ(first.records[1].delay, 7);
    EXPECT_EQ(toInt(first.records[2].kind), 2);
    for (const auto& r : first.records) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.comPort, 3);
    }
    EXPECT_EQ(dialer->runs[1].port, 2);
    EXPECT_EQ(dialer->runs[1].records.at(0).comPort, 4);
    EXPECT_EQ(dialer->runs[1].records.at(0).uniqueId.trimmed(), "b");
    EXPECT_GT(secondsSinceStart(first.startedAt), 13.0);
    EXPECT_GT(EventLoop::secondsBetween(first.startedAt, dialer->runs[1].startedAt), 2.0);

    const auto& req = launcher.requests[0];
    EXPECT_EQ(req.folder, sysDir);
    EXPECT_EQ(req.program, "calvex.exe");
    EXPECT_EQ(req.arguments, QStringList({" 1"}));
    EXPECT_EQ(req.workingDirectory, dir());
    EXPECT_TRUE(req.watch);
    EXPECT_EQ(launcher.requests[1].arguments, QStringList({" 2"}));
    EXPECT_EQ(pager->QueueCount(), 4);
}

TEST_F(DispatchTest, GroupTimeWindowAllowsOneScanPerWindow) {
    makePager();
    pager->setGroupTimeWindow(10);
    pager->AddComPort(1);
    send("a", "1");
    loop.advance(30);
    send("b", "2");
    loop.advance(30);
    ASSERT_EQ(dialer->runs.size(), 2u);
    const double firstAt = secondsSinceStart(dialer->runs[0].startedAt);
    const double secondAt = secondsSinceStart(dialer->runs[1].startedAt);
    EXPECT_NEAR(firstAt, 11.0, 0.1);
    EXPECT_GE(secondAt - firstAt, 10.0);
    EXPECT_LT(secondsSinceStart(dialer->runs[1].startedAt), 30.0 + 11.0);

    // With no window a scan runs on every tick.
    pager->setGroupTimeWindow(0);
    send("c", "3");
    loop.advance(2.5);
    EXPECT_EQ(dialer->runs.size(), 3u);
}

TEST_F(DispatchTest, TheDialingDelayIsAWaitInTheLoopThatSeesPropertyChanges) {
    makePager();
    pager->setDialingDelay(2);
    pager->AddComPort(1);
    send("a");
    int yieldsWhileWaiting = 0;
    bool changed = false;
    loop.setYieldHook([&] {
        if (headerStatus(1) == 1 && launcher.requests.empty()) {
            ++yieldsWhileWaiting;
            if (!changed) {
                changed = true;
                pager->setDialingDelay(5);
            }
        }
    });
    ticks(8);
    loop.setYieldHook({});
    ASSERT_EQ(dialer->runs.size(), 1u);
    EXPECT_GT(secondsSinceStart(dialer->runs[0].startedAt), 1.0 + 5.0);
    EXPECT_LT(secondsSinceStart(dialer->runs[0].startedAt), 1.0 + 5.1);
    EXPECT_GE(yieldsWhileWaiting, 1);
    EXPECT_LE(yieldsWhileWaiting, 4);  // waits, never spins
}

TEST_F(DispatchTest, RetriesFollowTheRetryDelayAndTheLastFailureIsReported) {
    makePager();
    pager->setNumberOfRetries(2);
    pager->setRetryDelay(60);
    pager->AddComPort(1);
    dialer->script = StandInDialer::all(3);
    send("a");
    loop.advance(300);
    ASSERT_EQ(dialer->runs.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dialer->runs[i].records.at(0).retries, i);
    EXPECT_GT(EventLoop::secondsBetween(dialer->runs[0].startedAt, dialer->runs[1].startedAt),
              60.0);
    EXPECT_GT(EventLoop::secondsBetween(dialer->runs[1].startedAt, dialer->runs[2].startedAt),
              60.0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, RaisedEvent::Failed);
    EXPECT_EQ(events[0].flag, 0);
    EXPECT_EQ(pager->QueueCount(), 0);
}

TEST_F(DispatchTest, WithoutRetriesTheFirstFailureIsFinalAndAModemErrorNamesThePort) {
    makePager();
    pager->AddComPort(7);
    dialer->script = StandInDialer::all(5);
    send("a");
    ticks(3);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, RaisedEvent::Failed);
    EXPECT_EQ(events[0].flag, 7);
    EXPECT_EQ(dialer->runs.size(), 1u);
}

TEST_F(DispatchTest, RecordsStillBusyTakeTheBatchStatusOthersKeepTheirOwn) {
    makePager();
    pager->AddComPort(1);
    dialer->script = [](DialerRun& run) -> std::optional<int> {
        if (run.records.size() != 5) return StandInDialer::allSent(run);
        run.records[0].status = 2;
        run.records[2].status = 4;
        run.records[3].status = 0;
        run.records[4].status = 9;
        return 3;  // the rest stays at 1
    };
    for (const char* id : {"s", "f", "c", "zero", "nine"}) send(QString::fromLatin1(id));
    ticks(2);
    ASSERT_EQ(eventIds(), QStringList({"s", "f", "c"}));
    EXPECT_EQ(events[0].kind, RaisedEvent::Sent);
    EXPECT_EQ(events[1].kind, RaisedEvent::Failed);
    EXPECT_EQ(events[2].kind, RaisedEvent::Cancelled);
    // Status 0 and 9: no event, no retry counted; dispatched again by the
    // scan of the same tick.
    EXPECT_EQ(pager->QueueCount(), 2);
    ASSERT_EQ(dialer->runs.size(), 2u);
    ASSERT_EQ(dialer->runs[1].records.size(), 2u);
    for (const auto& r : dialer->runs[1].records) EXPECT_EQ(r.retries, 0);
    EXPECT_EQ(dialer->runs[1].records[0].index, 4);
    EXPECT_EQ(dialer->runs[1].records[1].index, 5);
}

TEST_F(DispatchTest, ABusyPortIsLeftAloneWhileItsDialerRuns) {
    makePager();
    pager->AddComPort(1);
    dialer->script = neverFinish;
    send("a", "1");
    send("b", "2");
    ticks(30);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(headerStatus(1), 1);
    EXPECT_EQ(dialer->runs.size(), 1u);
    EXPECT_EQ(pager->QueueCount(), 2);

    // The dialer finishes: the next tick reports and hands over the waiting page.
    writeRecordStatus(1, 2, 2);
    writeRecordStatus(1, 1, 2);
    dialer->runs[0].handle->finish();
    ticks(1);
    EXPECT_EQ(eventIds(), QStringList({"a"}));
    ASSERT_EQ(dialer->runs.size(), 2u);
    EXPECT_EQ(dialer->runs[1].records.at(0).uniqueId.trimmed(), "b");
}

TEST_F(DispatchTest, AScanWithoutAFreePortStillStartsANewWindow) {
    makePager();
    pager->setGroupTimeWindow(10);
    pager->AddComPort(1);
    dialer->script = neverFinish;
    send("a", "1");
    loop.advance(12);  // a goes out at 11
    send("b", "2");
    loop.advance(10);  // the scan at about 21 finds no free port
    writeRecordStatus(1, 1, 2);
    dialer->runs[0].handle->finish();
    dialer->script = StandInDialer::allSent;
    loop.advance(20);
    ASSERT_EQ(dialer->runs.size(), 2u);
    EXPECT_EQ(eventIds().first(), "a");
    EXPECT_GT(secondsSinceStart(dialer->runs[1].startedAt), 31.0);
}

TEST_F(DispatchTest, PortsDroppedFromTheListAreNeverCollected) {
    makePager();
    pager->AddComPort(1);
    pager->AddComPort(2);
    dialer->script = neverFinish;
    send("a", "1");
    send("b", "2");
    ticks(2);
    ASSERT_EQ(dialer->runs.size(), 2u);
    pager->ClearComPorts();
    pager->AddComPort(5);  // position 1 again, reset to idle
    writeRecordStatus(2, 1, 2);
    dialer->runs[1].handle->finish();
    dialer->script = StandInDialer::allSent;
    send("c", "3");
    ticks(5);
    EXPECT_EQ(eventIds(), QStringList({"c"}));
    EXPECT_EQ(pager->QueueCount(), 2);
    EXPECT_TRUE(slot(1).InProgress);
    EXPECT_TRUE(slot(2).InProgress);
}

TEST_F(DispatchTest, EventTextsAreTrimmedAndCutToTheRecordWidths) {
    makePager();
    pager->AddComPort(1);
    const QString longId = QStringLiteral("ID-0123456789-0123456789-0123456789");
    pager->SendMessage("  spaced text  ", " 555 ", " 12 ", 0, longId);
    pager->SendMessage(QString(600, 'm'), "555", QString(25, 'p'), 0, "x");
    ticks(3);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].uniqueId, longId.left(30));
    EXPECT_EQ(events[0].message, "spaced text");
    EXPECT_EQ(events[0].phone, "555");
    EXPECT_EQ(events[0].pin, "12");
    EXPECT_EQ(events[1].message, QString(500, 'm'));
    EXPECT_EQ(events[1].pin, QString(20, 'p'));
    // " 555 " and "555" are different numbers: two runs.
    EXPECT_EQ(dialer->runs.size(), 2u);
}

TEST_F(DispatchTest, HandlersRunBeforeTheSlotIsFreedAndMaySendMore) {
    makePager();
    pager->AddComPort(1);
    int alertSlot = 0;
    onEvent = [&](const RaisedEvent& e) {
        if (e.uniqueId != "a") return;
        pager->SendMessage("alert", "999", "1", 0, "alert");
        alertSlot = pager->queue().findFree() - 1;
    };
    send("a");
    ticks(2);
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0].queueCount, 1);  // still holds its slot in the handler
    EXPECT_EQ(alertSlot, 2);
    EXPECT_EQ(pager->SubmitStatus(), 0);
    ticks(2);
    EXPECT_EQ(eventIds(), QStringList({"a", "alert"}));
    EXPECT_EQ(pager->QueueCount(), 0);
}

TEST_F(DispatchTest, StoppingInsideAHandlerEndsAllEvents) {
    makePager();
    pager->AddComPort(1);
    onEvent = [&](const RaisedEvent&) { pager->stopDispatch(); };
    send("a");
    send("b");
    ticks(2);
    EXPECT_EQ(eventIds(), QStringList({"a"}));
    send("c", "2");
    ticks(10);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(dialer->runs.size(), 1u);
}

TEST_F(DispatchTest, DestroyingTheControlInsideAHandlerIsSafe) {
    makePager();
    pager->AddComPort(1);
    onEvent = [&](const RaisedEvent&) { pager.reset(); };
    send("a");
    send("b");
    ticks(5);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(DispatchTest, NoSecondTickRunsWhileOneWaits) {
    makePager();
    pager->setDialingDelay(4);
    pager->AddComPort(1);
    pager->AddComPort(2);
    send("a", "1");
    bool sentDuringWait = false;
    bool secondPortTouchedDuringWait = false;
    loop.setYieldHook([&] {
        if (!launcher.requests.empty()) return;
        if (headerStatus(1) != 1) return;
        if (!sentDuringWait) {
            sentDuringWait = true;
            send("b", "2");  // starts the timer again while the tick waits
        }
        if (headerStatus(2) != 0) secondPortTouchedDuringWait = true;
    });
    ticks(12);
    loop.setYieldHook({});
    EXPECT_TRUE(sentDuringWait);
    EXPECT_FALSE(secondPortTouchedDuringWait);
    ASSERT_GE(dialer->runs.size(), 2u);
    EXPECT_EQ(dialer->runs[1].port, 2);
    EXPECT_GT(EventLoop::secondsBetween(dialer->runs[0].startedAt, dialer->runs[1].startedAt), 4.0);
}

TEST_F(DispatchTest, AnUnreadablePortIsNeitherFreeNorFinished) {
    makePager();
    pager->AddComPort(1);
    pager->AddComPort(2);
    QFile::remove(path("mordax1.dat"));
    send("a", "1");
    ticks(1);
    ASSERT_EQ(dialer->runs.size(), 1u);
    EXPECT_EQ(dialer->runs[0].port, 2);
    EXPECT_FALSE(QFile::exists(path("mordax1.dat")));
}

// A dialer that cannot be started, or that ends without a final header, no
// longer strands its pages: they are collected as failed.
TEST_F(DispatchTest, AFailedDialerStartIsCollectedAsAFailedRun) {
    makePager();
    pager->setNumberOfRetries(1);
    pager->setRetryDelay(0);
    pager->AddComPort(1);
    dialer->refuseStart = true;
    send("a");
    ticks(1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Cannot create calvex process");
    EXPECT_EQ(dialogs.shown()[0].title, "Error");
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
    EXPECT_EQ(headerStatus(1), 1);
    ticks(1);  // collected as failed: a retry is scheduled
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(slot(1).Retries, 1);
    EXPECT_EQ(headerStatus(1), 0);
    ticks(1);  // retried, refused again
    EXPECT_EQ(dialogs.shown().size(), 2u);
    ticks(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, RaisedEvent::Failed);
    EXPECT_EQ(events[0].flag, 0);
    EXPECT_EQ(headerStatus(1), 0);
    EXPECT_EQ(pager->QueueCount(), 0);
}

TEST_F(DispatchTest, ADialerThatExitsWhileBusyHasItsRunCollected) {
    makePager();
    pager->AddComPort(1);
    dialer->script = [](DialerRun& run) -> std::optional<int> {
        run.records[0].status = 2;  // got one page out, then died
        return std::nullopt;
    };
    send("a");
    send("b");
    ticks(5);
    EXPECT_TRUE(events.empty());
    dialer->runs[0].handle->finish();
    ticks(1);
    ASSERT_EQ(eventIds(), QStringList({"a", "b"}));
    EXPECT_EQ(events[0].kind, RaisedEvent::Sent);
    EXPECT_EQ(events[1].kind, RaisedEvent::Failed);
    EXPECT_EQ(headerStatus(1), 0);
}

TEST_F(DispatchTest, ARecordSettlesOnlyAMessageOfItsOwnRunAndOnlyOnce) {
    makePager();
    pager->AddComPort(1);
    pager->AddComPort(2);
    dialer->script = [](DialerRun& run) -> std::optional<int> {
        if (run.port == 2) return std::nullopt;
        // The second record names the run on port 2, the third a message
        // already settled.
        run.records[1].index = 2;
        run.records[2].index = 1;
        for (auto& r : run.records) r.status = 2;
        return 4;
    };
    send("a", "1");
    send("b", "2");  // slot 2, on port 2, still running
    send("c", "1");
    send("d", "1");
    ticks(2);
    // Slot 2 belongs to the run on port 2 and is untouched; c and d, which no
    // record accounted for, take the header's status.
    ASSERT_EQ(eventIds(), QStringList({"a", "c", "d"}));
    EXPECT_EQ(events[0].kind, RaisedEvent::Sent);
    EXPECT_EQ(events[1].kind, RaisedEvent::Cancelled);
    EXPECT_EQ(events[1].phone, "1");
    EXPECT_EQ(pager->QueueCount(), 1);
    EXPECT_TRUE(slot(2).InProgress);
}
