#include "Dialogs.h"
#include "Launcher.h"
#include "PagerOCX.h"
#include "QtEventLoop.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

using namespace vts;

// The control on the real event loop, starting a real program in place of
// the dialer: a shell script that marks the whole batch sent, or exits
// without a final status when told to.
class RealDialerTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        writeFile("system/calvex",
                  "#!/bin/sh\n"
                  "printf '[%s]' \"$1\" > args.txt\n"
                  "[ -f die ] && exit 0\n"
                  "printf '\\002\\000' | dd of=\"mordax$(echo $1).dat\" bs=1 seek=634 conv=notrunc "
                  "2>/dev/null\n");
        QFile::setPermissions(path("system/calvex"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("VANTREL_SYSTEM_DIR", path("system").toLocal8Bit());
    }
    void TearDown() override {
        qunsetenv("VANTREL_SYSTEM_DIR");
        TempDirTest::TearDown();
    }
    // Runs the real loop until an event arrives (10 s at most).
    QString waitForEvent(PagerOCX& pager) {
        QString result;
        QEventLoop wait;
        auto c1 =
            QObject::connect(&pager, &PagerOCX::MessageSent, [&](const QString& id, auto&&...) {
                result = "sent " + id;
                wait.quit();
            });
        auto c2 = QObject::connect(&pager, &PagerOCX::MessageFailed,
                                   [&](const QString& id, auto&, auto&, auto&, std::int16_t flag) {
                                       result = QStringLiteral("failed %1 %2").arg(id).arg(flag);
                                       wait.quit();
                                   });
        QTimer::singleShot(10000, &wait, &QEventLoop::quit);
        wait.exec();
        QObject::disconnect(c1);
        QObject::disconnect(c2);
        return result;
    }

    QtEventLoop loop;
    ScriptedDialogs dialogs;
    ProcessLauncher launcher;
};

TEST_F(RealDialerTest, ARealDialerRunIsCollectedAndOneThatDiesIsCollectedAsFailed) {
    PagerOCX pager(loop, dialogs, launcher, dir());
    pager.InitProperties();
    pager.setGroupTimeWindow(0);
    pager.setDialingDelay(0);
    pager.AddComPort(1);

    pager.SendMessage("hello", "5551000", "1234", 80, "a");
    ASSERT_EQ(pager.SubmitStatus(), 0);
    EXPECT_EQ(waitForEvent(pager), "sent a");
    EXPECT_EQ(readFile("args.txt"), "[ 1]");

    writeFile("die", "");
    pager.SendMessage("hello", "5551000", "1234", 80, "b");
    EXPECT_EQ(waitForEvent(pager), "failed b 0");
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(pager.QueueCount(), 0);
    pager.stopDispatch();
}
