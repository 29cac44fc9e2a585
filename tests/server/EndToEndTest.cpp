// The real vtsmonitor process without a display, with the real pager
// control, calvex and pagesim on pseudo-terminals: pages travel from vtspage
// to the simulated paging terminal and SENT, the status lines appear on
// standard output, and a stop signal or a crash loses no page.
#include "ConfigStore.h"
#include "Database.h"
#include "LogStore.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

using namespace vts;
using namespace vts::test;

namespace {

class EndToEndTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        QDir d(dir());
        for (const char* sub : {"queue/PENDING", "queue/SENT", "queue/FAILED"}) {
            ASSERT_TRUE(d.mkpath(QString::fromLatin1(sub)));
        }
        configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("delete from tblModems"));
        db->execute(QStringLiteral("insert into tblModems (ComPort) values ('COM1')"));
        db->execute(QStringLiteral("update tblConfig set CheckTime=0, NumberOfRetries=0, "
                                   "DelayBeforeRetries=1, TimeOut=1, PageFailAlert=0, "
                                   "ModemFailAlert=0, AudioAlert=0, VisualAlert=0, "
                                   "PMFExpireDays=NULL, MessageQueueLocation=?"),
                    {path(QStringLiteral("queue"))});
    }
    void TearDown() override {
        for (QProcess* p : {&m_server, &m_sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        TempDirTest::TearDown();
    }

    QProcessEnvironment headlessEnv() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("VANTREL_SYSTEM_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    void startSim() {
        m_sim.setProgram(binDir() + QStringLiteral("/pagesim"));
        m_sim.setArguments({QStringLiteral("--dir"), path(QStringLiteral("sim")),
                            QStringLiteral("--ports"), QStringLiteral("1"),
                            QStringLiteral("--pages"), path(QStringLiteral("pages.jsonl")),
                            QStringLiteral("--ini"), path(QStringLiteral("calvex.ini"))});
        m_sim.start();
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        QByteArray out;
        QDeadlineTimer dl(10000);
        while (!out.contains("ready\n") &&
               m_sim.waitForReadyRead(static_cast<int>(dl.remainingTime()))) {
            out += m_sim.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains("ready\n")) << out.toStdString();
    }

    void startServer() {
        m_out.clear();
        m_server.setProgram(binDir() + QStringLiteral("/vtsmonitor"));
        m_server.setWorkingDirectory(dir());
        m_server.setProcessEnvironment(headlessEnv());
        m_server.start();
        ASSERT_TRUE(m_server.waitForStarted(5000));
    }

    // Waits for a line of standard output containing `text`.
    bool waitForOutput(const QString& text, int ms = 45000) {
        QDeadlineTimer dl(ms);
        for (;;) {
            m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
            if (m_out.contains(text)) {
                return true;
            }
            if (dl.hasExpired() || m_server.state() == QProcess::NotRunning) {
                return false;
            }
            m_server.waitForReadyRead(static_cast<int>(std::max<qint64>(dl.remainingTime(), 1)));
        }
    }

    QString page(const QString& text) {
        QProcess p;
        p.start(
            binDir() + QStringLiteral("/vtspage"),
            {QStringLiteral("--queue"), path(QStringLiteral("queue")), QStringLiteral("--phone"),
             QStringLiteral("5551234"), QStringLiteral("--pin"), QStringLiteral("1001"),
             QStringLiteral("--computer"), QStringLiteral("E2E-PC"), text});
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    QStringList filesIn(const QString& sub) const {
        return QDir(path(QStringLiteral("queue/") + sub)).entryList(QDir::Files, QDir::Name);
    }

    QProcess m_server;
    QProcess m_sim;
    QString m_out;
};

TEST_F(EndToEndTest, PagesReachTheTerminalAndSentThenStopSignalEndsCleanly) {
    startSim();
    const QString first = page(QStringLiteral("Hello from the test"));
    const QString second = page(QStringLiteral("Second page"));
    ASSERT_TRUE(first.startsWith(QLatin1Char('A')) && first.endsWith(QStringLiteral(".PMF")));
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral(" - Vantrel Server started")));
    ASSERT_TRUE(
        waitForOutput(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001 ID=2")))
        << m_out.toStdString();
    EXPECT_TRUE(m_out.contains(QStringLiteral(" - Submitted to queue: Ph#=5551234 PIN=1001 ID=1")));
    EXPECT_TRUE(m_out.contains(QStringLiteral(" - New client added - Computer:E2E-PC")));
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), (QStringList{first, second}));
    const QByteArray pages = readFile(QStringLiteral("pages.jsonl"));
    EXPECT_TRUE(pages.contains("Hello from the test")) << pages.toStdString();
    EXPECT_TRUE(pages.contains("Second page"));

    ::kill(static_cast<pid_t>(m_server.processId()), SIGTERM);
    ASSERT_TRUE(m_server.waitForFinished(15000));
    EXPECT_EQ(m_server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_server.exitCode(), 0);
}

TEST_F(EndToEndTest, CrashLosesNoPage) {
    // No simulator yet: the page waits in the pager control when the server dies.
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral(" - Vantrel Server started")));
    const QString name = page(QStringLiteral("Survives a crash"));
    ASSERT_TRUE(waitForOutput(QStringLiteral("Submitted to queue: Ph#=5551234 PIN=1001 ID=1")));
    ::kill(static_cast<pid_t>(m_server.processId()), SIGKILL);
    ASSERT_TRUE(m_server.waitForFinished(5000));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{name});

    startSim();
    startServer();
    ASSERT_TRUE(waitForOutput(
        QStringLiteral("Returned 1 message file(s) from the pending folder to the queue")))
        << m_out.toStdString();
    ASSERT_TRUE(
        waitForOutput(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001 ID=2")))
        << m_out.toStdString();
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{name});
    EXPECT_TRUE(readFile(QStringLiteral("pages.jsonl")).contains("Survives a crash"));
    ::kill(static_cast<pid_t>(m_server.processId()), SIGINT);
    ASSERT_TRUE(m_server.waitForFinished(15000));
    EXPECT_EQ(m_server.exitCode(), 0);
}

TEST_F(EndToEndTest, MissingStoreIsFatalWithStatusOne) {
    QFile::remove(path(configstore::kFileName));
    startServer();
    ASSERT_TRUE(m_server.waitForFinished(15000));
    EXPECT_EQ(m_server.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(m_server.readAllStandardError());
    EXPECT_TRUE(err.contains(configstore::kMissingText)) << err.toStdString();
    EXPECT_TRUE(m_server.readAllStandardOutput().isEmpty());
    EXPECT_FALSE(logstore::present(dir()));
}

}  // namespace
