// The whole road from a network client to the paging terminal: vtsgate
// writes the queue file, vtsmonitor takes it, calvex dials pagesim's
// simulated modem and the page reaches the simulated paging terminal.
#include "ConfigStore.h"
#include "Database.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>

using namespace vts;
using namespace vts::test;

namespace {

class GatewayEndToEndTest : public TempDirTest {
protected:
    void TearDown() override {
        for (QProcess* p : {&m_gate, &m_server, &m_sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(15000)) {
                    p->kill();
                    p->waitForFinished(5000);
                }
            }
        }
        TempDirTest::TearDown();
    }
    static bool waitForOutput(QProcess& p, QString& seen, const QString& text, int ms = 20000) {
        QDeadlineTimer dl(ms);
        for (;;) {
            seen += QString::fromLocal8Bit(p.readAllStandardOutput());
            if (seen.contains(text)) {
                return true;
            }
            if (dl.hasExpired() || p.state() == QProcess::NotRunning) {
                return false;
            }
            p.waitForReadyRead(static_cast<int>(std::max<qint64>(dl.remainingTime(), 1)));
        }
    }
    static int run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                  : -1;
    }

    QProcess m_gate;
    QProcess m_server;
    QProcess m_sim;
};

TEST_F(GatewayEndToEndTest, PagesByHttpSnppAndMailReachTheSimulatedTerminal) {
    ASSERT_EQ(run(binDir() + QStringLiteral("/vtsinit"),
                  {dir() + QStringLiteral("/w"), QStringLiteral("--modem"), QStringLiteral("1")}),
              0);
    const QString work = path(QStringLiteral("w"));
    {
        auto db = configstore::open(work);
        db->execute(QStringLiteral(
            "update tblConfig set CheckTime=0, NumberOfRetries=0, DelayBeforeRetries=1, "
            "TimeOut=1, PageFailAlert=0, ModemFailAlert=0, AudioAlert=0, VisualAlert=0"));
    }
    writeFile(QStringLiteral("w/vtsgate.ini"),
              "[snpp]\nlisten = 127.0.0.1:0\n[smtp]\nlisten = 127.0.0.1:0\ndomain = pager.local\n"
              "[http]\nlisten = 127.0.0.1:0\ntoken = e2e\n[recipients]\nBOB = 5551234, 1001\n");

    QString simOut;
    m_sim.setWorkingDirectory(work);
    m_sim.start(binDir() + QStringLiteral("/pagesim"),
                {QStringLiteral("--dir"), QStringLiteral("sim"), QStringLiteral("--ports"),
                 QStringLiteral("1"), QStringLiteral("--pages"), QStringLiteral("pages.jsonl"),
                 QStringLiteral("--ini"), QStringLiteral("calvex.ini")});
    ASSERT_TRUE(waitForOutput(m_sim, simOut, QStringLiteral("ready\n"))) << simOut.toStdString();

    QString gateOut;
    m_gate.start(binDir() + QStringLiteral("/vtsgate"), {QStringLiteral("--dir"), work});
    ASSERT_TRUE(waitForOutput(m_gate, gateOut, QStringLiteral(" started in ")))
        << gateOut.toStdString();
    QHash<QString, QString> ports;
    static const QRegularExpression re(
        QStringLiteral("(SNPP|SMTP|HTTP) listening on 127.0.0.1:(\\d+)"));
    for (auto it = re.globalMatch(gateOut); it.hasNext();) {
        const auto m = it.next();
        ports[m.captured(1)] = m.captured(2);
    }
    const QString scripts = QStringLiteral(VTS_GATEWAY_TEST_DIR);
    ASSERT_EQ(
        run(QStringLiteral("curl"),
            {QStringLiteral("-sSf"), QStringLiteral("-H"),
             QStringLiteral("Authorization: Bearer e2e"), QStringLiteral("--json"),
             QStringLiteral(R"({"to":"bob","text":"Page by HTTP"})"),
             QStringLiteral("http://127.0.0.1:%1/api/pages").arg(ports[QStringLiteral("HTTP")])}),
        0);
    ASSERT_EQ(run(QStringLiteral("perl"),
                  {scripts + QStringLiteral("/snpp_client.pl"), ports[QStringLiteral("SNPP")],
                   QStringLiteral("BOB"), QStringLiteral("Page by SNPP")}),
              0);
    ASSERT_EQ(run(QStringLiteral("python3"),
                  {scripts + QStringLiteral("/clients.py"), QStringLiteral("plain"),
                   ports[QStringLiteral("SMTP")], QStringLiteral("bob@pager.local"),
                   QStringLiteral("Mail"), QStringLiteral("Page by SMTP")}),
              0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("VANTREL_SYSTEM_DIR"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_server.setProcessEnvironment(env);
    m_server.setWorkingDirectory(work);
    m_server.start(binDir() + QStringLiteral("/vtsmonitor"), QStringList());
    QString serverOut;
    QDeadlineTimer dl(90000);
    while (QDir(work + QStringLiteral("/QUEUE/SENT"))
                   .entryList({QStringLiteral("*.PMF")}, QDir::Files)
                   .size() < 3 &&
           !dl.hasExpired() && m_server.state() != QProcess::NotRunning) {
        m_server.waitForReadyRead(500);
        serverOut += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    }
    serverOut += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    EXPECT_EQ(QDir(work + QStringLiteral("/QUEUE/SENT"))
                  .entryList({QStringLiteral("*.PMF")}, QDir::Files)
                  .size(),
              3)
        << serverOut.toStdString();
    EXPECT_TRUE(
        serverOut.contains(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001")))
        << serverOut.toStdString();
    QFile pages(work + QStringLiteral("/pages.jsonl"));
    ASSERT_TRUE(pages.open(QIODevice::ReadOnly));
    const QByteArray received = pages.readAll();
    for (const char* text : {"Page by HTTP", "Page by SNPP", "Mail: Page by SMTP"}) {
        EXPECT_TRUE(received.contains(text)) << text << "\n" << received.toStdString();
    }
}

}  // namespace
