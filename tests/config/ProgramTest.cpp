#include "ConfigStore.h"
#include "LoginSettings.h"
#include "SingleCopyGuard.h"
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace {

// The real program, started without a display in a temporary working
// directory.
class Program : public vts::test::TempDirTest {
protected:
    int run(QString* err) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
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
    EXPECT_TRUE(QDir(dir()).entryList(QDir::Files).filter("MDB", Qt::CaseInsensitive).isEmpty());
}

TEST_F(Program, SecondCopyIsRefused) {
    vts::configstore::createNew(path("VTSCFG.MDB"), path("queue"));
    vts::SingleCopyGuard running(dir(), vts::login::kLockName);
    ASSERT_TRUE(running.acquire());
    QString err;
    EXPECT_EQ(run(&err), 1);
    EXPECT_TRUE(err.contains("Vantrel Server Configuration is already running")) << err.toStdString();
}

}  // namespace
