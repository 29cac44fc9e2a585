// Every failed page says why: for each port kind and each way pagesim (or
// the server itself) makes a page fail, the real server shows the cause in
// a status line right after "Message failed: ..." (at warning priority in
// the journal), and the log keeps it in tblCause under the row's ID.
#include "ServiceLog.h"

#include <MonitorRun.h>

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace vts {
namespace {

struct CauseCase {
    const char* name;
    QStringList sim;       // pagesim's ports
    const char* scenario;  // pagesim's behaviour, "" for none
    const char* ini;       // more of calvex.ini
    const char* method;    // vtspage --method, "" for TAP
    const char* cause;     // in the cause's line and in tblCause
};

void PrintTo(const CauseCase& c, std::ostream* os) { *os << c.name; }

// Checks where a failure's cause shows: the status line right after the
// failure's own line, the journal's warning priority, vtsctl why and the log.
class CauseRun : public test::MonitorRun {
protected:
    void writePage(const QString& pin, const char* method = "") {
        QStringList pageArgs = {QStringLiteral("--queue"),        path(QStringLiteral("queue")),
                                QStringLiteral("--phone"),        QStringLiteral("5551234"),
                                QStringLiteral("--pin"),          pin,
                                QStringLiteral("Cause test page")};
        if (*method) pageArgs << QStringLiteral("--method") << QString::fromLatin1(method);
        ASSERT_EQ(test::runProgram(test::binDir() + QStringLiteral("/vtspage"), pageArgs).code, 0);
    }

    void expectCause(const QString& pin, const char* cause) {
        startServer();
        ASSERT_TRUE(waitForOutput(QStringLiteral("Message failed: Ph#=5551234 PIN=") + pin +
                                  QStringLiteral(" ID=1")))
            << m_out.toStdString();
        ASSERT_TRUE(waitForOutput(QStringLiteral("Cause of ID=1: "), 5000)) << m_out.toStdString();
        m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
        stopServer();

        // The cause's line is the one right after the failure's own line.
        const QStringList lines = m_out.split(u'\n');
        qsizetype failed = -1;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].contains(QStringLiteral("Message failed: Ph#=5551234"))) failed = i;
        ASSERT_GE(failed, 0);
        ASSERT_LT(failed + 1, lines.size());
        const QString line = lines[failed + 1];
        EXPECT_TRUE(line.contains(QStringLiteral("Cause of ID=1: "))) << m_out.toStdString();
        EXPECT_TRUE(line.contains(QString::fromLatin1(cause), Qt::CaseInsensitive))
            << line.toStdString();
        // No secret of the page travels with it.
        EXPECT_FALSE(line.contains(QStringLiteral("1234 "))) << line.toStdString();
        // The journal takes it as a warning, as the failure itself.
        EXPECT_EQ(servicelog::journalLine(line).left(3), QStringLiteral("<4>"))
            << line.toStdString();
        // vtsctl why shows the same cause.
        const test::ProgramRun why = [&] {
            QProcess p;
            p.setWorkingDirectory(dir());
            p.start(test::binDir() + QStringLiteral("/vtsctl"),
                    {QStringLiteral("why"), QStringLiteral("1")});
            p.waitForFinished(20000);
            return test::ProgramRun{p.exitCode(),
                                    QString::fromLocal8Bit(p.readAllStandardOutput())};
        }();
        EXPECT_EQ(why.code, 0);
        EXPECT_TRUE(why.out.contains(QStringLiteral("Cause:     ")) &&
                    why.out.contains(QString::fromLatin1(cause), Qt::CaseInsensitive))
            << why.out.toStdString();
        auto log = logstore::open(dir());
        EXPECT_TRUE(
            logstore::causeOf(*log, 1).contains(QString::fromLatin1(cause), Qt::CaseInsensitive))
            << logstore::causeOf(*log, 1).toStdString();
    }

    void useComPort1() {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("update tblConfig set TimeOut=5"));
        db->execute(QStringLiteral("insert into tblModems (ComPort) values ('COM1')"));
    }
};

class Cause : public CauseRun, public ::testing::WithParamInterface<CauseCase> {};

TEST_P(Cause, IsShownAfterTheFailureAndKeptInTheLog) {
    const CauseCase& c = GetParam();
    useComPort1();
    QStringList args = c.sim;
    if (*c.scenario) {
        writeFile(QStringLiteral("scenario.txt"), c.scenario);
        args << QStringLiteral("--scenario") << path(QStringLiteral("scenario.txt"));
    }
    // pagesim writes [ports]; without it the case gives its own.
    if (!c.sim.isEmpty()) startSim(args);
    const QByteArray ports =
        c.sim.isEmpty() ? QByteArray() : readFile(QStringLiteral("calvex.ini"));
    writeFile(QStringLiteral("calvex.ini"),
              ports + "[tap]\nt1=0.5\nt3=3\n[gsm]\npin=1234\n" + c.ini);
    const QString pin = QStringLiteral("4915100000000");
    writePage(pin, c.method);
    expectCause(pin, c.cause);
}

// The same through an SNPP server no one here wrote (Debian's
// Net::SNPP::Server): a pager ID it refuses, and a connection it drops at
// the SEND.
struct PeerCase {
    const char* name;
    const char* pin;
    const char* dropAfter;  // the peer's DROP_AFTER, "" for none
    const char* cause;
};
void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class SnppPeerCause : public CauseRun, public ::testing::WithParamInterface<PeerCase> {
protected:
    void TearDown() override {
        test::killProcess(m_peer);
        CauseRun::TearDown();
    }
    QProcess m_peer;
};

TEST_P(SnppPeerCause, IsShownAfterTheFailureAndKeptInTheLog) {
    const PeerCase& c = GetParam();
    QProcess check;
    check.start(QStringLiteral("perl"),
                {QStringLiteral("-MNet::SNPP::Server"), QStringLiteral("-e1")});
    if (!check.waitForFinished(10000) || check.exitCode() != 0)
        GTEST_SKIP() << "Net::SNPP::Server is not installed (Debian: libnet-snpp-perl)";
    useComPort1();
    QStringList args{QStringLiteral(SNPP_PEER), path(QStringLiteral("peer.jsonl"))};
    if (*c.dropAfter) args << QString::fromLatin1(c.dropAfter);
    m_peer.start(QStringLiteral("perl"), args);
    QByteArray out;
    while (!out.contains('\n')) {
        ASSERT_TRUE(m_peer.waitForReadyRead(10000)) << "the SNPP server did not start";
        out += m_peer.readAllStandardOutput();
    }
    writeFile(QStringLiteral("calvex.ini"),
              "[ports]\nCOM1=snpp:127.0.0.1:" + out.trimmed().mid(5) + "\n");
    writePage(QString::fromLatin1(c.pin));
    expectCause(QString::fromLatin1(c.pin), c.cause);
}

INSTANTIATE_TEST_SUITE_P(
    NetSnppServer, SnppPeerCause,
    ::testing::Values(PeerCase{"PagerIdRefused", "12345", "", "550 Error, Invalid Pager ID"},
                      PeerCase{"DroppedAtSend", "5551000", "0", "connection lost"}),
    [](const auto& info) { return std::string(info.param.name); });

const QStringList modem = {QStringLiteral("--ports"), QStringLiteral("1")};
const QStringList tcp = {QStringLiteral("--tcp"), QStringLiteral("1")};
const QStringList snpp = {QStringLiteral("--snpp"), QStringLiteral("1")};
const QStringList wctp = {QStringLiteral("--wctp"), QStringLiteral("1")};
const QStringList gsm = {QStringLiteral("--gsm"), QStringLiteral("1")};

INSTANTIATE_TEST_SUITE_P(
    PortKinds, Cause,
    ::testing::Values(
        CauseCase{"ModemBusy", modem, "* busy\n", "", "", "BUSY"},
        CauseCase{"ModemNoCarrier", modem, "* no-carrier\n", "", "", "NO CARRIER"},
        CauseCase{"ModemNoDialTone", modem, "* no-dialtone\n", "", "", "NO DIALTONE"},
        CauseCase{"ModemNoAnswer", modem, "* noanswer\n", "", "", "NO ANSWER"},
        CauseCase{"ModemLogonRefused", modem, "* reject-logon\n", "", "", "log-on"},
        CauseCase{"ModemPageRefused", modem, "* reject-page=4915100000000\n", "", "",
                  "rejected: 511 No such subscriber"},
        CauseCase{"TcpPageRefused", tcp, "* reject-page=4915100000000\n", "", "",
                  "rejected: 511 No such subscriber"},
        CauseCase{"TcpConnectionRefused",
                  {},
                  "",
                  "[ports]\nCOM1=tcp:127.0.0.1:1\n",
                  "",
                  "connection refused"},
        CauseCase{"SnppPageRefused", snpp, "* reject-page=4915100000000\n", "", "", "550"},
        CauseCase{"WctpPageRefused", wctp, "* reject-page=4915100000000\n", "", "",
                  "403: invalid recipientID"},
        CauseCase{"GsmPageRefused", gsm, "* reject-page=4915100000000\n", "", "", "CMS ERROR"},
        CauseCase{"GsmSimPinRefused", gsm, "* sim-pin=9999\n", "", "", "PIN"},
        CauseCase{"ServerRefusesTheTextFile", modem, "", "", "/etc/hostname", "is refused"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vts
