#include "ConfigStore.h"
#include "LoginSettings.h"
#include "QuietStart.h"
#include "SingleCopyGuard.h"
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The real program, started without a display in a temporary working
// directory.
class Program : public vts::test::TempDirTest {
protected:
    // Whether the unprivileged user of run() can start `program` here.
    bool reachableByAnOrdinaryUser(const QString& program) {
        const pid_t child = fork();
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
            _exit(::access(QFile::encodeName(program).constData(), X_OK) == 0 &&
                          ::access(QFile::encodeName(dir()).constData(), X_OK) == 0
                      ? 0
                      : 1);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }
    int run(QString* err, bool unprivileged = false) {
        QProcess p;
        if (unprivileged && geteuid() == 0) {
            // Root writes everywhere; a read-only folder needs an ordinary user.
            p.setChildProcessModifier([] {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
            });
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.remove("XDG_RUNTIME_DIR");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir());
        p.start(vts::test::binDir() + "/vtsconfig", {});
        EXPECT_TRUE(p.waitForFinished(20000));
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    }
};

TEST_F(Program, MissingStoreEndsWithTheMessageAndTouchesNothing) {
    QString err;
    EXPECT_EQ(run(&err), 1);
    EXPECT_TRUE(err.contains(vts::configstore::kMissingText)) << err.toStdString();
    // Nothing else: no start-up noise the operator cannot act on.
    EXPECT_EQ(err.trimmed().count('\n'), 0) << err.toStdString();
    EXPECT_TRUE(QDir(dir()).entryList(QDir::Files).filter("MDB", Qt::CaseInsensitive).isEmpty());
}

TEST_F(Program, SecondCopyIsRefused) {
    vts::configstore::createNew(path("VTSCFG.MDB"), path("queue"));
    vts::SingleCopyGuard running(dir(), vts::login::kLockName);
    ASSERT_TRUE(running.acquire());
    QString err;
    EXPECT_EQ(run(&err), 1);
    EXPECT_TRUE(err.contains("Vantrel Server Configuration is already running"))
        << err.toStdString();
}

TEST(QuietStart, DropsOnlyQtsNoticesNobodyCanActOn) {
    struct Case {
        QtMsgType type;
        const char* text;
        bool dropped;
    };
    const Case cases[] = {
        {QtWarningMsg, "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'",
         true},
        {QtWarningMsg, "PulseAudioService: pa_context_connect() failed", true},
        {QtWarningMsg, "QStandardPaths: wrong permissions on runtime directory /run/user/0", false},
        {QtWarningMsg, "PulseAudioService: Connection failure: x", false},
        {QtCriticalMsg, "PulseAudioService: pa_context_connect() failed", false},
        {QtWarningMsg, "The settings could not be saved", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vts::isStartupNoise(c.type, QString::fromLatin1(c.text)), c.dropped) << c.text;
}

TEST_F(Program, AWorkingFolderThatCannotBeWrittenIsNamedNotTakenForAnotherCopy) {
    vts::configstore::createNew(path("VTSCFG.MDB"), path("queue"));
    ASSERT_EQ(chmod(QFile::encodeName(dir()).constData(), 0555), 0);
    if (geteuid() == 0 && !reachableByAnOrdinaryUser(vts::test::binDir() + "/vtsconfig"))
        GTEST_SKIP() << "an ordinary user cannot run the program or reach " << dir().toStdString();
    QString err;
    const int code = run(&err, true);
    chmod(QFile::encodeName(dir()).constData(), 0755);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(err.contains("already running")) << err.toStdString();
    EXPECT_TRUE(err.contains("Vantrel Server Configuration cannot start.")) << err.toStdString();
    EXPECT_TRUE(err.contains(QDir::toNativeSeparators(dir()))) << err.toStdString();
}

}  // namespace
