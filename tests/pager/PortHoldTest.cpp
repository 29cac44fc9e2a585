// The control against dialers it did not start and port files it cannot
// trust: a port held by a dialer of an earlier run is neither cleared nor
// handed out, a port is reset only once its own dialer has let go, and a
// finished header counting more records than the file holds still frees
// the port.
#include "PagerFixture.h"

#include <QFile>
#include <QProcess>

using namespace vts;
using namespace vts::test;

class PortHoldTest : public PagerTest {
protected:
    QStringList notices;
    void watchNotices() {
        QObject::connect(pager.get(), &PagerOCX::notice,
                         [this](const QString& text) { notices << text; });
    }
};

TEST_F(PortHoldTest, APortHeldByAnEarlierDialerIsNeitherClearedNorUsedUntilReleased) {
    PortRecord old;
    old.status = 1;
    old.index = 1;
    writeFile("mordax1.dat", old.encode() + old.encode());
    writeFile("mordax2.dat", old.encode());
    auto earlier = std::make_unique<PortLock>(dir(), 1);
    ASSERT_TRUE(earlier->tryLock());

    makePager();
    watchNotices();
    EXPECT_TRUE(QFile::exists(path("mordax1.dat")));   // its dialer still writes it
    EXPECT_FALSE(QFile::exists(path("mordax2.dat")));  // nobody holds it
    pager->AddComPort(1);
    EXPECT_EQ(headerStatus(1), 1);  // not reset under the earlier dialer
    send("a");
    ticks(3);
    EXPECT_TRUE(dialer->runs.empty());
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0],
              "Error: mordax1.dat is still held by a dialer of an earlier run; port 1 is not used "
              "until it is released");

    earlier.reset();
    ticks(2);
    ASSERT_EQ(dialer->runs.size(), 1u);
    EXPECT_EQ(dialer->runs[0].port, 1);
    EXPECT_EQ(eventIds(), QStringList({"a"}));
    ASSERT_EQ(notices.size(), 2);
    EXPECT_EQ(notices[1], "mordax1.dat was released; port 1 is used again");
}

TEST_F(PortHoldTest, AFinishedPortIsResetOnlyOnceItsDialerLetsGo) {
    makePager();
    pager->AddComPort(1);
    std::unique_ptr<PortLock> running;
    dialer->script = [&](DialerRun& run) -> std::optional<int> {
        running = std::make_unique<PortLock>(dir(), run.port);  // the dialer's own hold
        EXPECT_TRUE(running->tryLock());
        for (auto& r : run.records) r.status = 2;
        return 2;
    };
    send("a");
    ticks(3);
    ASSERT_EQ(dialer->runs.size(), 1u);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(headerStatus(1), 2);
    running.reset();
    ticks(1);
    EXPECT_EQ(eventIds(), QStringList({"a"}));
    EXPECT_EQ(headerStatus(1), 0);
}

TEST_F(PortHoldTest, ACountBeyondTheRecordsInTheFileEndsEveryMessageOfTheRun) {
    makePager();
    pager->AddComPort(1);
    // What the dialer does with a damaged file: a final status, the count
    // left as it was.
    dialer->script = [](DialerRun& run) -> std::optional<int> {
        run.records[0].status = 2;
        return 3;
    };
    send("a");
    send("b");
    ticks(1);
    ASSERT_EQ(dialer->runs.size(), 1u);
    PortRecord header = readRecord(1, 1);
    header.index = 5;
    writeFile("mordax1.dat", readFile("mordax1.dat").left(2 * PortRecord::kSize));
    ASSERT_TRUE(portfile::writeRecord(path("mordax1.dat"), 1, header.encode()));
    ticks(2);
    ASSERT_EQ(eventIds(), QStringList({"a", "b"}));
    EXPECT_EQ(events[0].kind, RaisedEvent::Sent);
    EXPECT_EQ(events[1].kind, RaisedEvent::Failed);
    EXPECT_EQ(headerStatus(1), 0);
    EXPECT_EQ(pager->QueueCount(), 0);
    ticks(3);
    EXPECT_EQ(events.size(), 2u);  // each message settled once
    send("c");
    ticks(2);
    EXPECT_EQ(eventIds(), QStringList({"a", "b", "c"}));
}

// The real dialer leaves a port file alone while another run holds its port.
TEST_F(PortHoldTest, TheDialerLeavesAPortAnotherRunHoldsUntouched) {
    PortRecord header;
    header.status = 1;
    header.index = 1;
    PortRecord message;
    message.status = 1;
    message.index = 1;
    message.phoneNumber = "5551000";
    message.pin = "1";
    message.message = "hello";
    const QByteArray before = header.encode() + message.encode();
    writeFile("mordax1.dat", before);
    PortLock other(dir(), 1);
    ASSERT_TRUE(other.tryLock());
    QProcess calvex;
    calvex.setWorkingDirectory(dir());
    calvex.start(binDir() + "/calvex", {" 1"});
    ASSERT_TRUE(calvex.waitForFinished(20000));
    EXPECT_EQ(calvex.exitCode(), 3);
    EXPECT_TRUE(calvex.readAllStandardError().contains("another dialer run holds this port"));
    EXPECT_EQ(readFile("mordax1.dat"), before);
}
