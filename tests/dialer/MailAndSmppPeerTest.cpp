// The e-mail and SMPP carriers against peers no one here wrote: Debian's
// aiosmtpd as the mail server (STARTTLS and log-in required), Debian's
// Net::SMPP as the SMS centre. Each page's status and whether its failure
// is final come from the peer's own reply.
#include "DialerRun.h"

#include <CauseFile.h>

#include <QDir>

namespace vts {
namespace {

using test::message;
using test::str;

const QString kPeers = QStringLiteral(DIALER_PEERS_DIR);

class PeerProcess : public test::DialerRun {
protected:
    void TearDown() override {
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.kill();
            m_peer.waitForFinished(5000);
        }
        test::DialerRun::TearDown();
    }
    // Starts `program` with `args`; the port it prints as "port N".
    QByteArray startPeer(const QString& program, const QStringList& args) {
        m_peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_peer.start(program, args);
        EXPECT_TRUE(m_peer.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n') && m_peer.waitForReadyRead(15000)) {
            out += m_peer.readAllStandardOutput();
        }
        EXPECT_TRUE(out.startsWith("port ")) << out.constData();
        return out.trimmed().mid(5);
    }
    // A CA and a server certificate for localhost signed by it.
    void makeCertificates() {
        const auto openssl = [this](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(dir());
            p.start(QStringLiteral("openssl"), args);
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        ASSERT_TRUE(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                             "-out", "ca.pem", "-days", "2", "-subj", "/CN=Test CA"}));
        ASSERT_TRUE(openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
                             "-out", "server.csr", "-subj", "/CN=localhost"}));
        writeFile(QStringLiteral("server.ext"), "subjectAltName=DNS:localhost\n");
        ASSERT_TRUE(openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey",
                             "ca.key", "-CAcreateserial", "-out", "server.pem", "-days", "2",
                             "-extfile", "server.ext"}));
    }
    QList<QJsonObject> peerLog() { return test::jsonLines(readFile(QStringLiteral("peer.jsonl"))); }
    causefile::Causes causes() { return causefile::read(path(causefile::fileName(1))); }
    QByteArray trace() { return readFile(QStringLiteral("KRX1.log")); }
    void reset() {
        for (const char* f : {"KRX1.log", "peer.jsonl", "mordax1.why"}) {
            QFile::remove(path(QLatin1String(f)));
        }
    }
    QProcess m_peer;
};

class MailPeer : public PeerProcess {
protected:
    void SetUp() override {
        PeerProcess::SetUp();
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            GTEST_SKIP() << "aiosmtpd is not installed (Debian: python3-aiosmtpd)";
        }
    }
};

// One batch over one session in TLS with a log-in: each page's fate from
// the server's reply to its recipient or its data; then the settings that
// keep the server from taking any page.
TEST_F(MailPeer, RepliesJudgeEachPageAndTheSessionNeedsTlsAndALogIn) {
    makeCertificates();
    const QByteArray port =
        startPeer(QStringLiteral("/usr/bin/python3"),
                  {kPeers + QStringLiteral("/smtp_carrier.py"), QStringLiteral("--cert"),
                   path(QStringLiteral("server.pem")), QStringLiteral("--key"),
                   path(QStringLiteral("server.key")), QStringLiteral("--user"),
                   QStringLiteral("ops"), QStringLiteral("--password"),
                   QStringLiteral("s3cret-pass"), path(QStringLiteral("peer.jsonl"))});
    const QByteArray ca = "cafile=" + path(QStringLiteral("ca.pem")).toUtf8() + '\n';
    const QByteArray good =
        "[smtp]\nto={pin}@pager.example.org\nfrom=paging@example.org\n"
        "subject=Page f\xc3\xbcr dich\nstarttls=on\nuser=ops\n"
        "password=s3cret-pass\n" +
        ca;
    const auto ini = [&](const QByteArray& smtp) {
        writeFile(QStringLiteral("calvex.ini"),
                  "[ports]\nCOM1=smtp:localhost:" + port + '\n' + smtp);
    };

    ini(good);
    writePortFile({message(1, QStringLiteral("Taken")),
                   message(2, QStringLiteral("Unknown pager"), QStringLiteral("5501234")),
                   message(3, QStringLiteral("Busy pager"), QStringLiteral("4501234")),
                   message(4, QStringLiteral("REFUSE this text")),
                   message(5, QStringLiteral("DEFER this text")),
                   message(6, QStringLiteral("no address"), QStringLiteral("12 <34>")),
                   message(7, QString::fromUtf8("Gr\u00fc\u00dfe, 5 \u20ac\nline two"))});
    EXPECT_EQ(runDialer(), 1) << trace().constData();
    expectStatuses(3, {2, 3, 3, 3, 3, 3, 2});
    EXPECT_EQ(causes().final, (QSet<int>{2, 4, 6}));
    EXPECT_EQ(causes().port, causefile::PortFault::None);
    const auto mails = peerLog();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails[0].value(QLatin1String("to")).toArray().first().toString(),
              QStringLiteral("1234567@pager.example.org"));
    EXPECT_EQ(str(mails[0], "from"), QStringLiteral("paging@example.org"));
    EXPECT_EQ(str(mails[0], "subject"), QString::fromUtf8("Page f\u00fcr dich"));
    EXPECT_EQ(str(mails[0], "text").trimmed(), QStringLiteral("Taken"));
    EXPECT_EQ(str(mails[1], "text").trimmed(),
              QString::fromUtf8("Gr\u00fc\u00dfe, 5 \u20ac\nline two"));
    for (const QJsonObject& m : mails) {
        EXPECT_TRUE(m.value(QLatin1String("tls")).toBool());
        EXPECT_EQ(str(m, "login"), QStringLiteral("ops"));
    }
    EXPECT_FALSE(trace().contains("s3cret-pass"));
    EXPECT_FALSE(trace().contains(QByteArray("\0ops\0s3cret-pass", 16).toBase64()));
    EXPECT_TRUE(trace().contains("AUTH PLAIN ***") || trace().contains("AUTH LOGIN"))
        << trace().constData();
    reset();

    // Settings that keep every page from the server: each fails the batch
    // for a retry and marks the port as unable to reach its carrier.
    const struct {
        const char* name;
        QByteArray smtp;
        const char* cause;
    } faults[] = {
        {"wrong password", QByteArray(good).replace("s3cret-pass", "wrong-pass"), "log-in"},
        {"no STARTTLS asked", QByteArray(good).replace("starttls=on", "starttls=off"), "530"},
        {"server certificate not trusted", QByteArray(good).replace(ca, ""), "certificate"},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        ini(f.smtp);
        writePortFile({message(1, QStringLiteral("one")), message(2, QStringLiteral("two"))});
        EXPECT_EQ(runDialer(), 1);
        expectStatuses(3, {3, 3});
        const auto c = causes();
        EXPECT_TRUE(c.final.isEmpty());
        EXPECT_EQ(c.port, causefile::PortFault::Unreachable);
        EXPECT_TRUE(c.portWhy.contains(QLatin1String(f.cause), Qt::CaseInsensitive))
            << c.portWhy.toStdString() << trace().constData();
        EXPECT_TRUE(peerLog().isEmpty());
        EXPECT_FALSE(trace().contains("s3cret-pass"));
        EXPECT_FALSE(trace().contains("wrong-pass"));
        reset();
    }

    // The phone number in the address; a connection dropped after the
    // data fails that page and the rest for a retry, none of them final.
    ini(QByteArray(good).replace("{pin}@pager", "{phone}@sms"));
    writePortFile({message(1, QStringLiteral("by phone")), message(2, QStringLiteral("DROP")),
                   message(3, QStringLiteral("after the drop"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 3, 3});
    EXPECT_TRUE(causes().final.isEmpty());
    ASSERT_EQ(peerLog().size(), 1);
    EXPECT_EQ(peerLog()[0].value(QLatin1String("to")).toArray().first().toString(),
              QStringLiteral("555-1000@sms.example.org"));
}

}  // namespace
}  // namespace vts
