// The whole road from a network client to the paging terminal: vtsgate
// writes the queue file, vtsmonitor takes it, calvex dials pagesim's
// simulated modem and the page reaches the simulated paging terminal.
#include "ConfigStore.h"
#include "Database.h"
#include "LogStore.h"
#include "Programs.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

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
    static int run(const QString& program, const QStringList& args) {
        return runProgram(program, args).code;
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
              "[http]\nlisten = 127.0.0.1:0\ntoken = e2e\n[recipients]\nBOB = 5551234, 1001\n"
              "ZED = 5551234, 2002\n");
    // The paging terminal refuses PIN 2002: that page fails.
    writeFile(QStringLiteral("w/scenario.txt"), "5551234 reject-page=2002\n");

    m_sim.setWorkingDirectory(work);
    ASSERT_NO_FATAL_FAILURE(
        startPagesim(m_sim,
                     {QStringLiteral("--dir"), QStringLiteral("sim"), QStringLiteral("--ports"),
                      QStringLiteral("1"), QStringLiteral("--pages"), QStringLiteral("pages.jsonl"),
                      QStringLiteral("--ini"), QStringLiteral("calvex.ini"),
                      QStringLiteral("--scenario"), QStringLiteral("scenario.txt")},
                     20000));

    QString gateOut;
    QHash<QString, QString> ports = startGateway(m_gate, gateOut, work, 20000);
    const QString scripts = QStringLiteral(VTS_GATEWAY_TEST_DIR);
    const QString api =
        QStringLiteral("http://127.0.0.1:%1/api/pages").arg(ports[QStringLiteral("HTTP")]);
    auto curl = [&api](const QStringList& args) {
        const ProgramRun r = runProgram(QStringLiteral("curl"),
                                        QStringList{QStringLiteral("-sSf"), QStringLiteral("-H"),
                                                    QStringLiteral("Authorization: Bearer e2e")} +
                                            args);
        return QJsonDocument::fromJson(r.out.toUtf8()).object();
    };
    auto idOf = [](const QJsonObject& o) {
        return o.value(QStringLiteral("ids")).toArray().first().toString();
    };
    auto stateOf = [&](const QString& id) { return curl({api + QLatin1Char('/') + id}); };
    const QString sentId = idOf(curl(
        {QStringLiteral("--json"), QStringLiteral(R"({"to":"bob","text":"Page by HTTP"})"), api}));
    const QString failedId = idOf(
        curl({QStringLiteral("--json"), QStringLiteral(R"({"to":"zed","text":"refused"})"), api}));
    ASSERT_FALSE(sentId.isEmpty());
    ASSERT_FALSE(failedId.isEmpty());
    EXPECT_EQ(stateOf(sentId).value(QStringLiteral("state")).toString(), QStringLiteral("queued"));
    ASSERT_EQ(run(QStringLiteral("perl"),
                  {scripts + QStringLiteral("/snpp_client.pl"), ports[QStringLiteral("SNPP")],
                   QStringLiteral("BOB"), QStringLiteral("Page by SNPP")}),
              0);
    ASSERT_EQ(run(QStringLiteral("python3"),
                  {scripts + QStringLiteral("/clients.py"), QStringLiteral("plain"),
                   ports[QStringLiteral("SMTP")], QStringLiteral("bob@pager.local"),
                   QStringLiteral("Mail"), QStringLiteral("Page by SMTP")}),
              0);

    startMonitor(m_server, work);
    QString serverOut;
    QDeadlineTimer dl(90000);
    while ((QDir(work + QStringLiteral("/QUEUE/SENT"))
                    .entryList({QStringLiteral("*.PMF")}, QDir::Files)
                    .size() < 3 ||
            QDir(work + QStringLiteral("/QUEUE/FAILED"))
                .entryList({QStringLiteral("*.PMF")}, QDir::Files)
                .isEmpty()) &&
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
    const QJsonObject sent = stateOf(sentId);
    EXPECT_EQ(sent.value(QStringLiteral("state")).toString(), QStringLiteral("sent"));
    EXPECT_GT(sent.value(QStringLiteral("log_id")).toInteger(), 0);
    const QJsonObject failed = stateOf(failedId);
    EXPECT_EQ(failed.value(QStringLiteral("state")).toString(), QStringLiteral("failed"))
        << QJsonDocument(failed).toJson().toStdString();
    EXPECT_GT(failed.value(QStringLiteral("log_id")).toInteger(), 0);
    // The cause shows once the log store keeps causes.
    if (logstore::open(work)->hasTable(QStringLiteral("tblCause"))) {
        EXPECT_FALSE(failed.value(QStringLiteral("cause")).toString().isEmpty());
    }
    const QByteArray received = readFile(QStringLiteral("w/pages.jsonl"));
    for (const char* text : {"Page by HTTP", "Page by SNPP", "Mail: Page by SMTP"}) {
        EXPECT_TRUE(received.contains(text)) << text << "\n" << received.toStdString();
    }
}

}  // namespace
