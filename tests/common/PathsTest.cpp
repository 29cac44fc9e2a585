#include "Paths.h"
#include "SingleCopyGuard.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vts;

class PathsTest : public test::TempDirTest {};

TEST_F(PathsTest, ResolvesEachComponentIgnoringCase) {
    writeFile(QStringLiteral("Queue/Pending/A1.PMF"), "x");
    writeFile(QStringLiteral("VTSLog.mdb"), "x");
    const QString d = dir();
    EXPECT_EQ(paths::resolve(QStringLiteral("VTSLOG.MDB"), d), d + QStringLiteral("/VTSLog.mdb"));
    EXPECT_EQ(paths::resolve(QStringLiteral("queue\\PENDING\\a1.pmf"), d),
              d + QStringLiteral("/Queue/Pending/A1.PMF"));
    EXPECT_EQ(paths::resolve(QStringLiteral("QUEUE/\\pending\\"), d),
              d + QStringLiteral("/Queue/Pending/"));
    // Absolute paths written in capitals, as stored by the configuration program.
    EXPECT_EQ(paths::resolve(d.toUpper() + QStringLiteral("/QUEUE/PENDING")),
              d + QStringLiteral("/Queue/Pending"));
    EXPECT_EQ(paths::resolve(QStringLiteral("./Queue/../queue/./pending"), d),
              d + QStringLiteral("/Queue/Pending"));
    // Relative to the working directory when no base is given.
    EXPECT_EQ(paths::resolve(QStringLiteral("vtslog.MDB")), d + QStringLiteral("/VTSLog.mdb"));
}

TEST_F(PathsTest, MissingComponentsKeepTheirSpellingAsWritten) {
    writeFile(QStringLiteral("Queue/x"), "x");
    const QString d = dir();
    EXPECT_EQ(paths::resolve(QStringLiteral("QUEUE\\Sent\\New.PMF"), d),
              d + QStringLiteral("/Queue/Sent/New.PMF"));
    // After a missing folder nothing further is looked up.
    QDir().mkpath(path(QStringLiteral("Other/sub")));
    EXPECT_EQ(paths::resolve(QStringLiteral("nothere/OTHER/SUB"), d),
              d + QStringLiteral("/nothere/OTHER/SUB"));
    EXPECT_FALSE(paths::exists(QStringLiteral("queue/sent"), d));
    EXPECT_TRUE(paths::exists(QStringLiteral("QUEUE"), d));
    EXPECT_TRUE(paths::exists(QStringLiteral("queue\\X"), d));
    EXPECT_FALSE(paths::exists(QString(), d));
}

TEST_F(PathsTest, ExactSpellingWinsOverOtherCase) {
    writeFile(QStringLiteral("abc.txt"), "lower");
    writeFile(QStringLiteral("ABC.TXT"), "upper");
    EXPECT_EQ(paths::resolve(QStringLiteral("ABC.TXT"), dir()), dir() + QStringLiteral("/ABC.TXT"));
    EXPECT_EQ(paths::resolve(QStringLiteral("abc.txt"), dir()), dir() + QStringLiteral("/abc.txt"));
    // Neither spelling written: the first in name order ignoring case.
    const QString r = paths::resolve(QStringLiteral("Abc.Txt"), dir());
    EXPECT_TRUE(r.endsWith(QStringLiteral("/ABC.TXT")) || r.endsWith(QStringLiteral("/abc.txt")));
}

TEST(Wildcard, MatchesIgnoringCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"A*.PMF", "a123.pmf", true},
        {"A*.PMF", "A.PMF", true},
        {"A*.PMF", "B1.PMF", false},
        {"A*.PMF", "A1.PMF.bak", false},
        {"*.PMF", "x.Pmf", true},
        {"*.PMF", "PMF", false},
        {"KRX?.log", "krx1.LOG", true},
        {"KRX?.log", "KRX.log", false},
        {"KRX?.log", "KRX12.log", false},
        {"KRXOCX?.log", "KRXOCX3.log", true},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"**x", "abx", true},
        {"?", "\u00e9", true},
        {"\u00c9*", "\u00e9t\u00e9", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paths::wildcardMatch(QString::fromUtf8(c.pattern), QString::fromUtf8(c.name)),
                  c.match)
            << c.pattern << " ~ " << c.name;
}

TEST_F(PathsTest, ListsRegularFilesByPatternInNameOrder) {
    writeFile(QStringLiteral("q/a2.pmf"), "x");
    writeFile(QStringLiteral("q/A1.PMF"), "x");
    writeFile(QStringLiteral("q/B1.PMF"), "x");
    writeFile(QStringLiteral("q/a3.txt"), "x");
    QDir().mkpath(path(QStringLiteral("q/A9.PMF")));  // a folder is not listed
    bool ok = false;
    EXPECT_EQ(paths::listFiles(path(QStringLiteral("Q")), QStringLiteral("A*.PMF"), &ok),
              (QStringList{QStringLiteral("A1.PMF"), QStringLiteral("a2.pmf")}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(paths::listFiles(path(QStringLiteral("q")), QStringLiteral("*.*")).size(), 4);
    EXPECT_TRUE(paths::listFiles(path(QStringLiteral("q")), QStringLiteral("Z*"), &ok).isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(
        paths::listFiles(path(QStringLiteral("missing")), QStringLiteral("*"), &ok).isEmpty());
    EXPECT_FALSE(ok);
}

TEST(Paths, JoinConcatenatesAndTurnsBackslashes) {
    EXPECT_EQ(paths::join(QStringLiteral("/x/QUEUE"), QStringLiteral("\\PENDING\\"),
                          QStringLiteral("A1.PMF")),
              QStringLiteral("/x/QUEUE/PENDING/A1.PMF"));
    EXPECT_EQ(paths::join(QStringLiteral("a"), QStringLiteral("b")), QStringLiteral("ab"));
}

TEST_F(PathsTest, SystemDirectoryFollowsTheEnvironment) {
    qputenv("VANTREL_SYSTEM_DIR", dir().toLocal8Bit());
    EXPECT_EQ(paths::systemDirectory(), dir());
    qunsetenv("VANTREL_SYSTEM_DIR");
    EXPECT_FALSE(paths::systemDirectory().isEmpty());
    EXPECT_TRUE(QFileInfo(paths::systemDirectory()).isDir());
}

// Where each program looks for a settings file: the working directory's
// copy wins (any letter case), then the settings folder's, and with
// neither the working directory's path is named.
TEST_F(PathsTest, SettingsFileWorkingDirectoryFirstThenTheSettingsFolder) {
    struct Row {
        const char* name;
        const char* inWork;  // file made in the working directory, or null
        const char* inEtc;   // file made in the settings folder, or null
        const char* found;   // "work/NAME" or "etc/NAME"
    };
    const Row rows[] = {
        {"only the settings folder", nullptr, "calvex.ini", "etc/calvex.ini"},
        {"only the working directory", "calvex.ini", nullptr, "work/calvex.ini"},
        {"both: the working directory wins", "calvex.ini", "calvex.ini", "work/calvex.ini"},
        {"working directory in another case", "CALVEX.INI", "calvex.ini", "work/CALVEX.INI"},
        {"settings folder in another case", nullptr, "Calvex.ini", "etc/Calvex.ini"},
        {"neither: the working directory's path", nullptr, nullptr, "work/calvex.ini"},
    };
    qputenv("VANTREL_SETTINGS_DIR", path(QStringLiteral("etc")).toLocal8Bit());
    EXPECT_EQ(paths::settingsDirectory(), path(QStringLiteral("etc")));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(path(QStringLiteral("work"))).removeRecursively();
        QDir(path(QStringLiteral("etc"))).removeRecursively();
        QDir().mkpath(path(QStringLiteral("work")));
        QDir().mkpath(path(QStringLiteral("etc")));
        if (row.inWork) writeFile(QStringLiteral("work/") + QLatin1String(row.inWork), "[ports]\n");
        if (row.inEtc) writeFile(QStringLiteral("etc/") + QLatin1String(row.inEtc), "[ports]\n");
        EXPECT_EQ(paths::settingsFile(QStringLiteral("calvex.ini"), path(QStringLiteral("work"))),
                  path(QLatin1String(row.found)));
    }
    qunsetenv("VANTREL_SETTINGS_DIR");
    EXPECT_EQ(paths::settingsDirectory(), QStringLiteral("/etc/vantrel"));
}

TEST_F(PathsTest, FreeSpaceIsSixtyFourBit) {
    const qint64 free = paths::freeSpace(dir());
    EXPECT_GT(free, 0);
    EXPECT_EQ(paths::freeSpace(QStringLiteral("/definitely/not/here")), -1);
}

class SingleCopyGuardTest : public test::TempDirTest {};

TEST_F(SingleCopyGuardTest, SecondCopyInTheSameFolderIsRefused) {
    SingleCopyGuard first(dir(), QStringLiteral("vtsmonitor.lock"));
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(first.acquire());
    {
        SingleCopyGuard second(dir(), QStringLiteral("vtsmonitor.lock"));
        EXPECT_FALSE(second.acquire());
        EXPECT_FALSE(second.held());
    }
    // A copy in another folder runs side by side.
    QDir().mkpath(path(QStringLiteral("other")));
    SingleCopyGuard elsewhere(path(QStringLiteral("other")), QStringLiteral("vtsmonitor.lock"));
    EXPECT_TRUE(elsewhere.acquire());
}

TEST_F(SingleCopyGuardTest, LockIsFreedWhenTheCopyEnds) {
    {
        SingleCopyGuard first(dir(), QStringLiteral("x.lock"));
        ASSERT_TRUE(first.acquire());
    }
    SingleCopyGuard next(dir(), QStringLiteral("x.lock"));
    EXPECT_TRUE(next.acquire());
}

TEST_F(SingleCopyGuardTest, LockLeftByACrashedCopyIsTakenOver) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto* g = new SingleCopyGuard(dir(), QStringLiteral("x.lock"));
        _exit(g->acquire() ? 0 : 1);  // no destructor: the lock file stays behind
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(QFile::exists(path(QStringLiteral("x.lock"))));
    SingleCopyGuard next(dir(), QStringLiteral("x.lock"));
    EXPECT_TRUE(next.acquire());
}

TEST_F(SingleCopyGuardTest, StaleLockWithAReusedProcessNumberIsTakenOver) {
    // A lock file naming this very process (as after a restart that handed
    // out the same number) but held by nobody.
    writeFile(QStringLiteral("x.lock"),
              QByteArray::number(qint64(getpid())) + '\n' +
                  QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n' +
                  QSysInfo::machineHostName().toUtf8() + '\n');
    SingleCopyGuard g(dir(), QStringLiteral("x.lock"));
    EXPECT_TRUE(g.acquire());
}

TEST_F(SingleCopyGuardTest, MissingFolderIsAnErrorNotAnotherCopy) {
    SingleCopyGuard g(path(QStringLiteral("missing")), QStringLiteral("x.lock"));
    EXPECT_FALSE(g.acquire());
    EXPECT_FALSE(g.errorText().isEmpty());
    SingleCopyGuard first(dir(), QStringLiteral("x.lock"));
    ASSERT_TRUE(first.acquire());
    SingleCopyGuard second(dir(), QStringLiteral("x.lock"));
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(second.errorText().isEmpty());
}

// Why a guard was refused, as seen by a copy that cannot write the folder.
// Each case prepares the folder, then a child process (dropped to an
// unprivileged user when the tests run as root, since root writes
// everywhere) tries to take the lock there.
struct RefusalCase {
    const char* name;
    const char* folder;    // relative to the test directory
    bool runningCopy;      // this process holds the lock while the child tries
    bool staleLock;        // a crashed copy left its lock file behind
    bool lockIsAFolder;    // something else sits where the lock file goes
    bool readOnly;         // the folder is made read-only before the child runs
    bool expectOtherCopy;  // else a failure whose text names the folder
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class SingleCopyRefusal : public test::TempDirTest,
                          public ::testing::WithParamInterface<RefusalCase> {
protected:
    // 0: lock taken; 1: another copy reported; 2: failure naming the folder;
    // 3: a failure text that does not name the folder.
    int tryInChild(const QString& folder) {
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && setgid(65534) != 0) _exit(9);
            if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
            // The test folder's parents may be closed to an ordinary user.
            if (::access(QFile::encodeName(dir()).constData(), X_OK) != 0) _exit(7);
            SingleCopyGuard g(folder, QStringLiteral("x.lock"));
            if (g.acquire()) _exit(0);
            if (g.otherCopyRunning()) _exit(g.errorText().isEmpty() ? 1 : 8);
            const QString text = g.refusalText(QStringLiteral("running"), QStringLiteral("P"));
            _exit(text.contains(QDir::toNativeSeparators(folder)) &&
                          text.startsWith("P cannot start.")
                      ? 2
                      : 3);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }
};

TEST_P(SingleCopyRefusal, OnlyARunningCopyCountsAsAnotherCopy) {
    const RefusalCase& c = GetParam();
    ASSERT_EQ(chmod(QFile::encodeName(dir()).constData(), 0755), 0);
    const QString folder = path(QString::fromLatin1(c.folder));
    if (QString::fromLatin1(c.folder) != QLatin1String("missing")) QDir().mkpath(folder);
    if (c.staleLock) {
        const pid_t child = fork();
        if (child == 0) {
            auto* g = new SingleCopyGuard(folder, QStringLiteral("x.lock"));
            _exit(g->acquire() ? 0 : 1);  // no destructor: the lock file stays behind
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(QFile::exists(folder + "/x.lock"));
    }
    if (c.lockIsAFolder) QDir().mkpath(folder + "/x.lock");
    std::unique_ptr<SingleCopyGuard> running;
    if (c.runningCopy) {
        running = std::make_unique<SingleCopyGuard>(folder, QStringLiteral("x.lock"));
        ASSERT_TRUE(running->acquire());
    }
    if (c.readOnly) {
        ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    }
    const int outcome = tryInChild(folder);
    if (c.readOnly) chmod(QFile::encodeName(folder).constData(), 0755);
    if (outcome == 7) GTEST_SKIP() << "an ordinary user cannot reach " << dir().toStdString();
    EXPECT_EQ(outcome, c.expectOtherCopy ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SingleCopyRefusal,
    ::testing::Values(
        RefusalCase{"RunningCopy", "w", true, false, false, false, true},
        RefusalCase{"RunningCopyInReadOnlyFolder", "w", true, false, false, true, true},
        RefusalCase{"ReadOnlyFolder", "w", false, false, false, true, false},
        RefusalCase{"ReadOnlyFolderWithStaleLock", "w", false, true, false, true, false},
        RefusalCase{"MissingFolder", "missing", false, false, false, false, false},
        RefusalCase{"LockNameTakenByAFolder", "w", false, false, true, false, false}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(SingleCopyGuardTest, ACrashedCopysLockIsNotARunningCopy) {
    // The crashed copy's lock file is replaced, not mistaken for a running copy.
    const pid_t child = fork();
    if (child == 0) {
        auto* g = new SingleCopyGuard(dir(), QStringLiteral("x.lock"));
        _exit(g->acquire() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(SingleCopyGuard::heldByRunningCopy(path("x.lock")));
    SingleCopyGuard next(dir(), QStringLiteral("x.lock"));
    EXPECT_TRUE(next.acquire());
    EXPECT_TRUE(SingleCopyGuard::heldByRunningCopy(path("x.lock")));
}
