#include "OnlyOne.h"

#include "TestServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>

#include <gtest/gtest.h>

using namespace vts;
using vts::test::pumpUntil;

namespace {

class OnlyOneTest : public test::TempDirTest {};

TEST_F(OnlyOneTest, NameIsBuiltFromTheFirstTwentyCharactersOfTheTitle) {
    EXPECT_EQ(OnlyOne::guardName("updater"), QStringLiteral("OnlyOneupdater"));
    EXPECT_EQ(OnlyOne::guardName("Vantrel Update Program Long"),
              QStringLiteral("OnlyOneVantrel Update Progr"));
    OnlyOne g(dir(), "updater");
    EXPECT_EQ(g.lockPath(), QDir(dir()).canonicalPath() + "/OnlyOneupdater.lock");
}

TEST_F(OnlyOneTest, SecondCopyAsksTheFirstToComeForward) {
    OnlyOne first(dir(), "updater");
    ASSERT_TRUE(first.claim());
    int raised = 0;
    QObject::connect(&first, &OnlyOne::raiseRequested, [&] { ++raised; });
    {
        OnlyOne second(dir(), "updater");
        EXPECT_FALSE(second.claim());
        EXPECT_FALSE(second.isFirst());
    }
    EXPECT_TRUE(pumpUntil([&] { return raised == 1; }));
    // Another program folder has a guard of its own.
    QDir().mkpath(path("other"));
    OnlyOne elsewhere(path("other"), "updater");
    EXPECT_TRUE(elsewhere.claim());
}

TEST_F(OnlyOneTest, FolderIsFreeAgainOnceTheFirstCopyEnds) {
    {
        OnlyOne first(dir(), "updater");
        ASSERT_TRUE(first.claim());
    }
    OnlyOne next(dir(), "updater");
    EXPECT_TRUE(next.claim());
}

TEST_F(OnlyOneTest, LockLeftByADeadCopyIsTakenOver) {
    // A lock file whose owner process no longer exists.
    QProcess gone;
    gone.start("true");
    ASSERT_TRUE(gone.waitForStarted(5000));
    const qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(5000));
    writeFile("OnlyOneupdater.lock", QByteArray::number(pid) + "\nupdater\n" +
                                         QSysInfo::machineHostName().toUtf8() + "\n");
    OnlyOne g(dir(), "updater");
    EXPECT_TRUE(g.claim());
}

TEST_F(OnlyOneTest, AFolderTheLockCannotBeMadeInIsAnErrorNotAnotherCopy) {
    // Something that is no lock file sits where the lock goes; no copy runs.
    ASSERT_TRUE(QDir().mkpath(path("OnlyOneupdater.lock")));
    OnlyOne g(dir(), "updater");
    EXPECT_FALSE(g.claim());
    EXPECT_FALSE(g.isFirst());
    EXPECT_TRUE(g.error().contains(QDir::toNativeSeparators(QDir(dir()).canonicalPath())))
        << g.error().toStdString();
    // A running first copy is no error.
    QDir().mkpath(path("other"));
    OnlyOne first(path("other"), "updater");
    ASSERT_TRUE(first.claim());
    OnlyOne second(path("other"), "updater");
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(second.error().isEmpty());
}

// The real program, copied into a program folder of the test's own.
TEST_F(OnlyOneTest, SecondRunningProgramEndsWhileTheFirstKeepsRunning) {
    QDir().mkpath(path("prog"));
    const QString exe = path("prog/updater");
    ASSERT_TRUE(QFile::copy(test::binDir() + "/updater", exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(exe, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(
        pumpUntil([&] { return QFileInfo::exists(path("prog/OnlyOneupdater.lock")); }, 15000));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(exe, {});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished(5000);
    }
}

}  // namespace
