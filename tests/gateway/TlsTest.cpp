// Every listener under TLS, with a private certificate authority made by
// openssl for each test: SNPP through openssl s_client, HTTPS through curl,
// SMTP STARTTLS through Python's smtplib.
#include "Programs.h"
#include "TestSupport.h"
#include "TextFile.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>

using namespace vts::test;

namespace {

const QString kScripts = QStringLiteral(VTS_GATEWAY_TEST_DIR);

class GatewayTlsTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        for (const char* p : {"openssl", "curl", "python3"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(p)).isEmpty()) {
                GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
            }
        }
        ASSERT_EQ(
            runProgram(binDir() + QStringLiteral("/vtsinit"), {path(QStringLiteral("work"))}).code,
            0);
        makeCertificates();
        // The account's hash made by the program itself, from standard input.
        QProcess hasher;
        hasher.start(binDir() + QStringLiteral("/vtsgate"), {QStringLiteral("--hash-password")});
        hasher.write("mail pw\n");
        hasher.closeWriteChannel();
        ASSERT_TRUE(hasher.waitForFinished(20000));
        const QString hash = QString::fromLatin1(hasher.readAllStandardOutput()).trimmed();
        ASSERT_TRUE(hash.startsWith(QStringLiteral("$argon2id$"))) << hash.toStdString();
        writeFile(
            QStringLiteral("work/vtsgate.ini"),
            QStringLiteral("[tls]\ncert = %1\nkey = %2\n"
                           "[snpp]\nlisten = 127.0.0.1:0\ntls = on\n"
                           "[smtp]\nlisten = 127.0.0.1:0\ndomain = pager.local\n"
                           "starttls = on\nauth = required\n"
                           "[http]\nlisten = 127.0.0.1:0\ntls = on\ntoken = t0ken\n"
                           "[users]\nmailer = %3\n"
                           "[recipients]\nBOB = 5551234, 1001\n")
                .arg(path(QStringLiteral("server.pem")), path(QStringLiteral("server.key")), hash)
                .toUtf8());
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
    void openssl(const QStringList& args) {
        const ProgramRun r = runProgram(QStringLiteral("openssl"), args);
        ASSERT_EQ(r.code, 0) << r.out.toStdString();
    }
    // A CA and a server certificate for 127.0.0.1 and localhost signed by it.
    void makeCertificates() {
        const QStringList ec{
            QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                QStringList{QStringLiteral("-keyout"), path(QStringLiteral("ca.key")),
                            QStringLiteral("-out"), path(QStringLiteral("ca.pem")),
                            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=Vantrel test CA")});
        openssl(QStringList{QStringLiteral("req")} + ec +
                QStringList{QStringLiteral("-keyout"), path(QStringLiteral("server.key")),
                            QStringLiteral("-out"), path(QStringLiteral("server.csr")),
                            QStringLiteral("-subj"), QStringLiteral("/CN=localhost")});
        writeFile(QStringLiteral("ext.cnf"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 path(QStringLiteral("server.csr")), QStringLiteral("-CA"),
                 path(QStringLiteral("ca.pem")), QStringLiteral("-CAkey"),
                 path(QStringLiteral("ca.key")), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-out"), path(QStringLiteral("server.pem")),
                 QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                 path(QStringLiteral("ext.cnf"))});
    }
    QStringList pages() const {
        QStringList out;
        const QString q = path(QStringLiteral("work/QUEUE"));
        for (const QString& f :
             QDir(q).entryList({QStringLiteral("A*.PMF")}, QDir::Files, QDir::Name)) {
            const auto l = vts::text::readLines(q + QLatin1Char('/') + f);
            out << (l && l->size() > 22 ? l->at(4) + QLatin1Char('|') + l->at(22) : f);
        }
        out.sort();
        return out;
    }
    // Runs openssl s_client against a port, feeding it `input`; returns what
    // the server answered.
    QString sClient(const QString& port, const QByteArray& input, const QStringList& extra = {}) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"),
                QStringList{QStringLiteral("s_client"), QStringLiteral("-connect"),
                            QStringLiteral("127.0.0.1:") + port, QStringLiteral("-CAfile"),
                            path(QStringLiteral("ca.pem")), QStringLiteral("-verify_return_error"),
                            QStringLiteral("-quiet")} +
                    extra);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(20000);
        return QString::fromUtf8(p.readAll());
    }
    QString url(const char* route) const {
        return QStringLiteral("https://127.0.0.1:%1%2")
            .arg(m_ports[QStringLiteral("HTTP")], QString::fromLatin1(route));
    }

    QProcess m_gate;
    QString m_log;
    QHash<QString, QString> m_ports;
};

TEST_F(GatewayTlsTest, SnppSpeaksTlsFromTheFirstByte) {
    const QString out =
        sClient(m_ports[QStringLiteral("SNPP")], "PAGE BOB\r\nMESS over tls\r\nSEND\r\nQUIT\r\n");
    EXPECT_TRUE(out.contains(QStringLiteral("250 Message Sent Successfully"))) << out.toStdString();
    EXPECT_EQ(pages(), QStringList{QStringLiteral("SNPP|over tls")});
    EXPECT_TRUE(m_log.contains(QStringLiteral("(TLS)")));
    // Plain text on the TLS port is no SNPP session.
    const ProgramRun plain =
        runProgram(QStringLiteral("curl"),
                   {QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("5"),
                    QStringLiteral("http://127.0.0.1:") + m_ports[QStringLiteral("SNPP")]});
    EXPECT_FALSE(plain.out.contains(QStringLiteral("220"))) << plain.out.toStdString();
}

TEST_F(GatewayTlsTest, HttpsWithThePrivateCa) {
    ProgramRun r = runProgram(
        QStringLiteral("curl"),
        {QStringLiteral("-sS"), QStringLiteral("--cacert"), path(QStringLiteral("ca.pem")),
         QStringLiteral("-w"), QStringLiteral("\nstatus=%{http_code}\n"), QStringLiteral("-H"),
         QStringLiteral("Authorization: Bearer t0ken"), QStringLiteral("--json"),
         QStringLiteral(R"({"to":"bob","text":"https page"})"), url("/api/pages")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("status=201"))) << r.out.toStdString();
    // Without the CA the client refuses the certificate.
    r = runProgram(QStringLiteral("curl"), {QStringLiteral("-sS"), url("/api/health")});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(pages(), QStringList{QStringLiteral("HTTP|https page")});
}

TEST_F(GatewayTlsTest, SmtpStarttlsWithSmtplib) {
    auto smtplib = [this](const char* password) {
        return runProgram(QStringLiteral("python3"),
                          {kScripts + QStringLiteral("/clients.py"), QStringLiteral("starttls"),
                           m_ports[QStringLiteral("SMTP")], QStringLiteral("bob@pager.local"),
                           path(QStringLiteral("ca.pem")), QStringLiteral("mailer"),
                           QString::fromLatin1(password)});
    };
    const ProgramRun r = smtplib("mail pw");
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << m_log.toStdString();
    const ProgramRun wrong = smtplib("guess");
    EXPECT_TRUE(wrong.out.startsWith(QStringLiteral("REFUSED 535"))) << wrong.out.toStdString();
    EXPECT_EQ(pages(), QStringList{QStringLiteral("SMTP|over TLS: sealed")});
    EXPECT_TRUE(waitForOutput(m_gate, m_log, QStringLiteral("authentication failed"), 5000));
    EXPECT_TRUE(m_log.contains(QStringLiteral("by user mailer"))) << m_log.toStdString();
    EXPECT_FALSE(m_log.contains(QStringLiteral("guess")));
}

TEST_F(GatewayTlsTest, SwaksAuthOverStarttls) {
    if (QStandardPaths::findExecutable(QStringLiteral("swaks")).isEmpty()) {
        GTEST_SKIP() << "swaks is not installed (scripts/install-deps.sh installs it)";
    }
    const QStringList common{
        QStringLiteral("--server"), QStringLiteral("127.0.0.1:") + m_ports[QStringLiteral("SMTP")],
        QStringLiteral("--to"),     QStringLiteral("bob@pager.local"),
        QStringLiteral("--from"),   QStringLiteral("nagios@example.com"),
        QStringLiteral("--header"), QStringLiteral("Subject: swaks"),
        QStringLiteral("--body"),   QStringLiteral("over starttls"),
        QStringLiteral("--tls")};
    ProgramRun r = runProgram(
        QStringLiteral("swaks"),
        common + QStringList{QStringLiteral("--auth"), QStringLiteral("LOGIN"),
                             QStringLiteral("--auth-user"), QStringLiteral("mailer"),
                             QStringLiteral("--auth-password"), QStringLiteral("mail pw")});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("235 2.7.0"))) << r.out.toStdString();
    // Without AUTH the mail is refused.
    r = runProgram(QStringLiteral("swaks"), common);
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("530 5.7.0"))) << r.out.toStdString();
    EXPECT_EQ(pages(), QStringList{QStringLiteral("SMTP|swaks: over starttls")});
}

// What a client sends in the clear behind STARTTLS does not count after
// the handshake (RFC 3207): the injected MAIL gets no reply of its own.
TEST_F(GatewayTlsTest, CommandsInjectedBehindStarttlsAreDropped) {
    const ProgramRun r =
        runProgram(QStringLiteral("python3"),
                   {kScripts + QStringLiteral("/clients.py"), QStringLiteral("inject"),
                    m_ports[QStringLiteral("SMTP")], path(QStringLiteral("ca.pem"))});
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("RCPT 503"))) << r.out.toStdString();
}

TEST_F(GatewayTlsTest, CertificateIsReadAgainOnSighup) {
    ::kill(static_cast<pid_t>(m_gate.processId()), SIGHUP);
    EXPECT_TRUE(waitForOutput(m_gate, m_log, QStringLiteral("certificate"), 10000));
    EXPECT_TRUE(m_log.contains(QStringLiteral("loaded"))) << m_log.toStdString();
    const QString out = sClient(m_ports[QStringLiteral("SNPP")], "QUIT\r\n");
    EXPECT_TRUE(out.contains(QStringLiteral("221"))) << out.toStdString();
}

}  // namespace
