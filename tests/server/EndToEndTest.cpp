// The real vtsmonitor process without a display, with the real pager
// control, calvex and pagesim on pseudo-terminals: pages travel from vtspage
// to the simulated paging terminal and SENT, the status lines appear on
// standard output, and a stop signal or a crash loses no page.
#include "MonitorRun.h"

#include <QFile>

#include <csignal>

using namespace vts;
using namespace vts::test;

namespace {

class EndToEndTest : public MonitorRun {
protected:
    void SetUp() override {
        MonitorRun::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        configstore::open(dir())->execute(
            QStringLiteral("insert into tblModems (ComPort) values ('COM1')"));
    }

    void startSim() { MonitorRun::startSim({QStringLiteral("--ports"), QStringLiteral("1")}); }

    QString page(const QString& text) {
        return MonitorRun::page(text, QStringLiteral("1001"), QStringLiteral("5551234"),
                                QStringLiteral("E2E-PC"));
    }
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
