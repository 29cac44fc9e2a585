// The real vtsgate program against clients written elsewhere: Debian's
// Net::SNPP and HylaFAX's sendpage, Python's smtplib, curl. Each test
// checks the queue file's lines 8 and 9 and the text, and the refusals.
#include "Programs.h"
#include "TestSupport.h"
#include "TextFile.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

using namespace vts::test;

namespace {

const QString kScripts = QStringLiteral(VTS_GATEWAY_TEST_DIR);

using ClientRun = ProgramRun;

class GatewayClientsTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        const ProgramRun init = runProgram(binDir() + QStringLiteral("/vtsinit"),
                                           {path(QStringLiteral("work"))}, 20000);
        ASSERT_EQ(init.code, 0) << init.out.toStdString();
        writeFile(QStringLiteral("work/vtsgate.ini"),
                  "[snpp]\nlisten = 127.0.0.1:0\n"
                  "[smtp]\nlisten = 127.0.0.1:0\ndomain = pager.local\n"
                  "[http]\nlisten = 127.0.0.1:0\ntoken = t0ken-for-tests\n"
                  "[limits]\nmax_text = 200\nmax_mail = 20000\nmax_body = 4000\nidle_timeout = 1\n"
                  "smtp_idle_timeout = 1\n"
                  "[recipients]\nBOB = 5551234, 1001\nONCALL = 5559876, 1002, 80\n");
        m_ports = startGateway(m_gate, m_log, path(QStringLiteral("work")), 15000);
        ASSERT_EQ(m_ports.size(), 3) << m_log.toStdString();
    }
    void TearDown() override {
        if (m_gate.state() != QProcess::NotRunning) {
            m_gate.terminate();
            m_gate.waitForFinished(5000);
        }
        TempDirTest::TearDown();
    }

    bool waitForLog(const QString& text, int ms = 15000) {
        return waitForOutput(m_gate, m_log, text, ms);
    }

    static ClientRun run(const QString& program, const QStringList& args) {
        return runProgram(program, args);
    }
    static void needProgram(const char* name) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty()) {
            GTEST_SKIP() << name << " is not installed (scripts/install-deps.sh installs it)";
        }
    }

    QStringList queued() const {
        return QDir(path(QStringLiteral("work/QUEUE")))
            .entryList({QStringLiteral("A*.PMF")}, QDir::Files, QDir::Name);
    }
    // Lines 8, 9 and the text of every queued file, "phone|pin|text", sorted.
    QStringList pages() const {
        QStringList out;
        for (const QString& f : queued()) {
            const auto l = vts::text::readLines(path(QStringLiteral("work/QUEUE/") + f));
            if (!l || l->size() < 22) {
                out << QStringLiteral("bad file ") + f;
                continue;
            }
            out << QStringList{l->at(7), l->at(8), l->mid(22).join(QString())}.join(
                QLatin1Char('|'));
        }
        out.sort();
        return out;
    }
    ClientRun snpp(const QString& pagers, const QString& message) {
        return run(QStringLiteral("perl"), {kScripts + QStringLiteral("/snpp_client.pl"),
                                            m_ports[QStringLiteral("SNPP")], pagers, message});
    }
    ClientRun py(const QStringList& args) {
        QStringList a{kScripts + QStringLiteral("/clients.py"), args.first(),
                      m_ports[args.size() > 1 && args.first() == QLatin1String("stall")
                                  ? args[1]
                                  : QStringLiteral("SMTP")]};
        a += args.mid(args.first() == QLatin1String("stall") ? 2 : 1);
        return run(QStringLiteral("python3"), a);
    }
    ClientRun curl(const QStringList& args,
                   const QString& token = QStringLiteral("t0ken-for-tests")) {
        QStringList a{QStringLiteral("-sS"), QStringLiteral("-w"),
                      QStringLiteral("\nstatus=%{http_code}\n")};
        if (!token.isEmpty()) {
            a << QStringLiteral("-H") << QStringLiteral("Authorization: Bearer ") + token;
        }
        return run(QStringLiteral("curl"), a + args);
    }
    QString url(const char* path) {
        return QStringLiteral("http://127.0.0.1:%1%2")
            .arg(m_ports[QStringLiteral("HTTP")], QString::fromLatin1(path));
    }

    QProcess m_gate;
    QString m_log;
    QHash<QString, QString> m_ports;
};

TEST_F(GatewayClientsTest, NetSnppClient) {
    needProgram("perl");
    ClientRun r = snpp(QStringLiteral("BOB,oncall"), QStringLiteral("Server room at 31 C"));
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(pages(), (QStringList{QStringLiteral("5551234|1001|Server room at 31 C"),
                                    QStringLiteral("5559876|1002|Server room at 31 C")}));
    r = snpp(QStringLiteral("ZED"), QStringLiteral("x"));
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 550"))) << r.out.toStdString();
    r = snpp(QStringLiteral("BOB"), QString(201, QLatin1Char('y')));
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 550 Error, message longer than 200")))
        << r.out.toStdString();
    EXPECT_EQ(queued().size(), 2);
    EXPECT_TRUE(waitForLog(QStringLiteral("SNPP 127.0.0.1 refused: message longer than 200")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("refused: unknown recipient ZED")));
}

TEST_F(GatewayClientsTest, HylafaxSendpage) {
    needProgram("sendpage");
    const QString host = QStringLiteral("127.0.0.1:") + m_ports[QStringLiteral("SNPP")];
    ClientRun r = run(QStringLiteral("sendpage"),
                      {QStringLiteral("-h"), host, QStringLiteral("-p"), QStringLiteral("oncall"),
                       QStringLiteral("Backup failed on db2")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(pages(), QStringList{QStringLiteral("5559876|1002|Backup failed on db2")});
    r = run(QStringLiteral("sendpage"), {QStringLiteral("-h"), host, QStringLiteral("-p"),
                                         QStringLiteral("nobody"), QStringLiteral("x")});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("550"))) << r.out.toStdString();
    r = run(QStringLiteral("sendpage"), {QStringLiteral("-h"), host, QStringLiteral("-p"),
                                         QStringLiteral("BOB"), QString(300, QLatin1Char('z'))});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("longer than 200"))) << r.out.toStdString();
    EXPECT_EQ(queued().size(), 1);
}

// A newline inside the text of sendpage's page adds no recipient.
TEST_F(GatewayClientsTest, SendpageNewlineInTheTextAddsNoRecipient) {
    needProgram("sendpage");
    const QString host = QStringLiteral("127.0.0.1:") + m_ports[QStringLiteral("SNPP")];
    const ClientRun r = run(QStringLiteral("sendpage"),
                            {QStringLiteral("-h"), host, QStringLiteral("-p"),
                             QStringLiteral("BOB"), QStringLiteral("disk full\nPAGE ONCALL")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(pages(), QStringList{QStringLiteral("5551234|1001|disk full PAGE ONCALL")});
}

// RFC 9110/9112 as curl speaks it: HEAD, a chunked body, the scheme's
// name in any case, an absolute-form target through a proxy setting.
TEST_F(GatewayClientsTest, CurlHttpRules) {
    needProgram("curl");
    ClientRun r = curl({QStringLiteral("-I"), url("/api/health")}, QString());
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=200"))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("\"status\""))) << "HEAD has no body";
    r = curl({QStringLiteral("-H"), QStringLiteral("Transfer-Encoding: chunked"),
              QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
              QStringLiteral("--data-binary"), QStringLiteral(R"({"to":"bob","text":"chunked"})"),
              url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=201"))) << r.out.toStdString();
    r = run(QStringLiteral("curl"),
            {QStringLiteral("-sS"), QStringLiteral("-w"), QStringLiteral("\nstatus=%{http_code}\n"),
             QStringLiteral("-H"), QStringLiteral("authorization: bearer t0ken-for-tests"),
             QStringLiteral("--json"), QStringLiteral(R"({"to":"oncall","text":"lower"})"),
             QStringLiteral("--proxy"), url(""), QStringLiteral("http://pager.example/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=201"))) << r.out.toStdString();
    r = curl({QStringLiteral("-X"), QStringLiteral("BREW"), url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=501"))) << r.out.toStdString();
    EXPECT_EQ(pages(), (QStringList{QStringLiteral("5551234|1001|chunked"),
                                    QStringLiteral("5559876|1002|lower")}));
}

TEST_F(GatewayClientsTest, SmtplibMailToPostmasterIsTaken) {
    needProgram("python3");
    const ClientRun r = py({QStringLiteral("plain"), QStringLiteral("postmaster@pager.local"),
                            QStringLiteral("Bounce"), QStringLiteral("x")});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(waitForLog(QStringLiteral("mail for postmaster from monitor@example.com taken")));
    EXPECT_TRUE(queued().isEmpty());
}

TEST_F(GatewayClientsTest, CheckRefusesAPinThatIsNone) {
    writeFile(QStringLiteral("work/bad.ini"),
              "[recipients]\nBOB = 5551234, 1001 ; Bob's pager\nANN = 5551234, 10 02\n");
    const ClientRun r = runProgram(
        binDir() + QStringLiteral("/vtsgate"),
        {QStringLiteral("--dir"), path(QStringLiteral("work")), QStringLiteral("--config"),
         path(QStringLiteral("work/bad.ini")), QStringLiteral("--check")});
    EXPECT_EQ(r.code, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("PIN 10 02"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("1 recipients"))) << r.out.toStdString();
}

TEST_F(GatewayClientsTest, PythonSmtplib) {
    needProgram("python3");
    ClientRun r = py({QStringLiteral("plain"), QStringLiteral("bob@pager.local"),
                      QStringLiteral("Disk full"), QStringLiteral("/var is at 97 %\non web1\n")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    r = py({QStringLiteral("mime"), QStringLiteral("ONCALL@PAGER.LOCAL"),
            QStringLiteral("Zürich alert")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    r = py({QStringLiteral("html"), QStringLiteral("bob@pager.local"), QStringLiteral("H"),
            QStringLiteral("<p>Only&nbsp;<b>HTML</b></p><script>x()</script>")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(
        pages(),
        (QStringList{
            QStringLiteral("5551234|1001|Disk full: /var is at 97 % on web1"),
            QStringLiteral("5551234|1001|H: Only HTML"),
            QStringLiteral(
                "5559876|1002|Zürich alert: Plain part: disk /var at 97 % on web1 – act now")}));

    r = py({QStringLiteral("plain"), QStringLiteral("bob@pager.local,zed@pager.local"),
            QStringLiteral("s"), QStringLiteral("b")});
    // smtplib goes on with the recipients that were taken.
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("550"))) << r.out.toStdString();
    r = py({QStringLiteral("plain"), QStringLiteral("zed@pager.local"), QStringLiteral("s"),
            QStringLiteral("b")});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 550 5.1.1"))) << r.out.toStdString();
    r = py({QStringLiteral("plain"), QStringLiteral("bob@elsewhere.example"), QStringLiteral("s"),
            QStringLiteral("b")});
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 550 5.7.1"))) << r.out.toStdString();
    r = py({QStringLiteral("big"), QStringLiteral("bob@pager.local"), QStringLiteral("30000")});
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 552"))) << r.out.toStdString();
    r = py({QStringLiteral("plain"), QStringLiteral("bob@pager.local"), QStringLiteral("s"),
            QString(250, QLatin1Char('w'))});
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("REFUSED 554"))) << r.out.toStdString();
    EXPECT_EQ(queued().size(), 4);
    EXPECT_TRUE(
        waitForLog(QStringLiteral("SMTP 127.0.0.1 refused: message longer than 200 characters")));
    EXPECT_TRUE(m_log.contains(
        QStringLiteral("SMTP 127.0.0.1 refused: unknown recipient zed@pager.local")));
}

TEST_F(GatewayClientsTest, Curl) {
    needProgram("curl");
    ClientRun r =
        curl({QStringLiteral("--json"),
              QStringLiteral(R"({"to":["bob","ONCALL"],"text":"Call the NOC","from":"cron"})"),
              url("/api/pages")});
    ASSERT_TRUE(r.out.contains(QStringLiteral("status=201"))) << r.out.toStdString();
    EXPECT_EQ(pages(), (QStringList{QStringLiteral("5551234|1001|Call the NOC"),
                                    QStringLiteral("5559876|1002|Call the NOC")}));
    for (const QString& f : queued()) {
        EXPECT_TRUE(r.out.contains(f)) << "the answer names " << f.toStdString();
    }
    r = curl(
        {QStringLiteral("--json"), QStringLiteral(R"({"to":"bob","text":"x"})"), url("/api/pages")},
        QStringLiteral("guess"));
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=401"))) << r.out.toStdString();
    r = curl(
        {QStringLiteral("--json"), QStringLiteral(R"({"to":"bob","text":"x"})"), url("/api/pages")},
        QString());
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=401"))) << r.out.toStdString();
    r = curl({QStringLiteral("--json"), QStringLiteral(R"({"to":"zed","text":"x"})"),
              url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=400")) &&
                r.out.contains(QStringLiteral("unknown recipient zed")))
        << r.out.toStdString();
    r = curl({QStringLiteral("--json"), QStringLiteral("{to: bob}"), url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=400")) &&
                r.out.contains(QStringLiteral("bad JSON")))
        << r.out.toStdString();
    r = curl({QStringLiteral("--json"),
              QStringLiteral(R"({"to":"bob","text":"%1"})").arg(QString(5000, QLatin1Char('q'))),
              url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=413"))) << r.out.toStdString();
    r = curl({QStringLiteral("--json"),
              QStringLiteral(R"({"to":"bob","text":"%1"})").arg(QString(300, QLatin1Char('q'))),
              url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=400")) &&
                r.out.contains(QStringLiteral("longer than 200")))
        << r.out.toStdString();
    r = curl({url("/api/health")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=200")) &&
                r.out.contains(QStringLiteral("\"recipients\":2")))
        << r.out.toStdString();
    EXPECT_EQ(queued().size(), 2);
    EXPECT_TRUE(waitForLog(QStringLiteral("HTTP 127.0.0.1 refused (401): wrong bearer token")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("HTTP 127.0.0.1 refused (413)")));
}

TEST_F(GatewayClientsTest, StalledClientsAreCutOff) {
    needProgram("python3");
    QList<QProcess*> clients;
    const std::pair<const char*, const char*> stalls[] = {
        {"SNPP", "PAGE BOB\r\nMESS half"},
        {"SMTP", "EHLO x\r\nMAIL FROM:<a@b>\r\n"},
        {"HTTP", "POST /api/pages HTTP/1.1\r\nHost: x\r\nContent-Length: 50\r\n\r\n{"}};
    for (const auto& [protocol, partial] : stalls) {
        auto* p = new QProcess;
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral("python3"),
                 {kScripts + QStringLiteral("/clients.py"), QStringLiteral("stall"),
                  m_ports[QString::fromLatin1(protocol)], QString::fromLatin1(partial)});
        clients << p;
    }
    const char* expected[] = {"421 Timeout", "421 4.4.2", "HTTP/1.1 408"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(clients[i]->waitForFinished(20000));
        const QString out = QString::fromUtf8(clients[i]->readAll());
        EXPECT_TRUE(out.startsWith(QStringLiteral("CLOSED"))) << out.toStdString();
        EXPECT_TRUE(out.contains(QString::fromLatin1(expected[i]))) << out.toStdString();
        delete clients[i];
    }
    EXPECT_TRUE(queued().isEmpty());
    EXPECT_TRUE(waitForLog(QStringLiteral("HTTP 127.0.0.1 refused: request not complete in time")));
}

}  // namespace
