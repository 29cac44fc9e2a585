// The intake between checks: a queue file is taken as soon as the folder's
// watch reports it whole, never while a writer still has it open, and the
// timed check still finds what the watch did not report. Which ports count
// as network carriers, as the dialer reads calvex.ini.
#include "CarrierPorts.h"
#include "MonitorCore.h"
#include "PagerOCX.h"
#include "QueueFile.h"
#include "QueueFileWriter.h"
#include "ServerTestSupport.h"

#include <QFile>

namespace vts {
namespace {

TEST(CarrierPorts, EveryKindButTheModemsIsANetworkCarrier) {
    QTemporaryDir tmp;
    const QString ini = tmp.filePath(QStringLiteral("calvex.ini"));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "[ports]\n"
        "COM1=tcp:127.0.0.1:2000\n"
        "COM2=snpp:pager.example.com:444\n"
        "COM3=wctp:https://wctp.example.com/wctp\n"
        "COM4=gsm:/dev/ttyUSB1\n"
        "COM5=/dev/ttyUSB0\n"
        "COM6=tcp:no-port-here\n"
        "COM7=smoke:signal\n"
        "COM12=TCP:[::1]:2001\n");
    f.close();
    // COM8 has no entry: /dev/ttyS7, a modem.
    EXPECT_EQ(networkComPorts(ini), (QSet<int>{1, 2, 3, 12}));
    EXPECT_TRUE(networkComPorts(tmp.filePath(QStringLiteral("missing.ini"))).isEmpty());
}

class QueueWatchTest : public test::ServerTest {
protected:
    // Files the intake took so far (logged, in PENDING or delivered since).
    qsizetype taken() const {
        return filesIn(QStringLiteral("PENDING")).size() + filesIn(QStringLiteral("SENT")).size();
    }
    QStringList lines(int i) const {
        test::QueueLines l;
        l.pin = QString::number(2000 + i);
        return l.lines();
    }
};

TEST_F(QueueWatchTest, FilesAreTakenAsTheyAppearButNeverHalfWritten) {
    setSetting(QStringLiteral("CheckTime"), 1);  // a timed check once a minute
    ASSERT_TRUE(startCore());
    run(2);  // the first check, which starts the watch
    ASSERT_EQ(taken(), 0);
    const double window = MonitorCore::kIntakeCoalesceMs / 1000.0 + 0.001;

    // Published whole, the way the queue file writer does: taken at once.
    QueueMessage page;
    page.computer = QStringLiteral("PC-ONE");
    page.tapPhoneNumber = QStringLiteral("5551234");
    page.tapPin = QStringLiteral("1001");
    page.message = QStringLiteral("published whole");
    ASSERT_FALSE(QueueFileWriter(queueDir()).write(page).isEmpty());
    core().queueEvents();
    loop.advance(window);
    EXPECT_EQ(taken(), 1);

    // Written in place: left alone while its writer has it open, even with
    // enough lines to parse, and taken once it is closed.
    QFile inPlace(queueDir() + QStringLiteral("/A2.PMF"));
    ASSERT_TRUE(inPlace.open(QIODevice::WriteOnly));
    inPlace.write(lines(2).join(QStringLiteral("\r")).toLatin1() + "\r");
    inPlace.flush();
    core().queueEvents();
    loop.advance(window);
    EXPECT_EQ(taken(), 1);
    EXPECT_TRUE(filesIn(QStringLiteral("FAILED")).isEmpty());
    inPlace.write("the rest of the text\r");
    inPlace.close();
    core().queueEvents();
    loop.advance(window);
    EXPECT_EQ(taken(), 2);

    // A burst is taken in one window.
    QList<QueueMessage> burst;
    for (int i = 0; i < 30; ++i) {
        page.tapPin = QString::number(3000 + i);
        burst << page;
    }
    ASSERT_EQ(QueueFileWriter(queueDir()).writeAll(burst).size(), 30);
    core().queueEvents();
    loop.advance(window);
    EXPECT_EQ(taken(), 32);

    // Nothing reported (a network file system): the timed check finds it.
    writeQueueFile(QStringLiteral("A3.PMF"), lines(3));
    loop.advance(window);
    EXPECT_EQ(taken(), 32);
    run(61);
    EXPECT_EQ(taken(), 33);
    EXPECT_EQ(logRowCount(), 33);
}

// 1,000 files for ten numbers over a network port: the check takes 800,
// the rest wait in the queue folder until a chunk of slots is free and are
// taken then, not at the next timed check; every page goes out once, each
// number's pages in at most two runs.
TEST_F(QueueWatchTest, ABurstLargerThanTheQueueIsFedAsSlotsFree) {
    writeFile(QStringLiteral("calvex.ini"), "[ports]\nCOM1=tcp:127.0.0.1:9\n");
    clearModems();
    addModem(QStringLiteral("COM1"));
    setSetting(QStringLiteral("CheckTime"), 1);
    constexpr int kFiles = 1000;
    for (int i = 0; i < kFiles; ++i) {
        test::QueueLines l;
        l.phone = QStringLiteral("555100%1").arg(i % 10);
        l.pin = QString::number(10000 + i);
        writeQueueFile(QStringLiteral("A%1.PMF").arg(i, 4, 10, QLatin1Char('0')), l.lines());
    }
    ASSERT_TRUE(startCore());
    EXPECT_TRUE(core().pager()->isNetworkPort(1));
    run(5);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), kFiles);
    EXPECT_EQ(logRowCount(), kFiles);
    QHash<QString, int> runsOf, pagesOf;
    QSet<QString> pins;
    for (const Run& r : runs) {
        ASSERT_FALSE(r.messages.empty());
        const QString phone = r.messages.front().phoneNumber.trimmed();
        ++runsOf[phone];
        for (const PortRecord& m : r.messages) {
            EXPECT_EQ(m.phoneNumber.trimmed(), phone);
            EXPECT_FALSE(pins.contains(m.pin.trimmed())) << "doubled " << m.pin.toStdString();
            pins.insert(m.pin.trimmed());
        }
    }
    EXPECT_EQ(pins.size(), kFiles);
    for (auto it = runsOf.begin(); it != runsOf.end(); ++it) {
        EXPECT_LE(it.value(), 2) << it.key().toStdString();
    }
}

}  // namespace
}  // namespace vts
