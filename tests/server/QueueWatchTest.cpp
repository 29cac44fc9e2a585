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

}  // namespace
}  // namespace vts
