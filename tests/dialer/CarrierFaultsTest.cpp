// Carriers that refuse, drop, chatter or fail: what the dialer marks final
// beside the port file, how often a peer sees each page, and what the trace
// shows. The peers are pagesim and a carrier scripted on Python's standard
// library (tests/dialer/peers/carrier_peer.py).
#include "DialerRun.h"

#include <CauseFile.h>

#include <QDir>

namespace vts {
namespace {

using test::message;

const QString kPeers = QStringLiteral(DIALER_PEERS_DIR);

class CarrierFaults : public test::DialerRun {
protected:
    void TearDown() override {
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.kill();
            m_peer.waitForFinished(5000);
        }
        test::DialerRun::TearDown();
    }
    // Starts carrier_peer.py with `args`; its port.
    QByteArray startPeer(const QStringList& args) {
        m_peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_peer.start(QStringLiteral("python3"),
                     QStringList{kPeers + QStringLiteral("/carrier_peer.py")} + args);
        EXPECT_TRUE(m_peer.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n') && m_peer.waitForReadyRead(10000)) {
            out += m_peer.readAllStandardOutput();
        }
        return out.trimmed().mid(5);
    }
    QList<QJsonObject> peerLog() { return test::jsonLines(readFile(QStringLiteral("peer.jsonl"))); }
    causefile::Causes causes() { return causefile::read(path(causefile::fileName(1))); }
    QByteArray trace() { return readFile(QStringLiteral("KRX1.log")); }
    void reset() {
        for (const char* f : {"KRX1.log", "peer.jsonl", "pages.jsonl", "mordax1.why"}) {
            QFile::remove(path(QLatin1String(f)));
        }
    }
    QProcess m_peer;
};

// A page refused for itself is marked final (never retried); a lost
// connection is not, and leaves the port marked as unable to reach its
// carrier when no page got an answer.
TEST_F(CarrierFaults, RefusalsPerKindAreFinalOnlyForThePageItself) {
    const struct {
        const char* option;
        const char* scenario;
        const char* pin;
        bool final;
        causefile::PortFault port;
    } cases[] = {
        {"--ports", "* reject-page=999", "999", true, causefile::PortFault::None},
        {"--tcp", "COM1 reject-page=4915100000000", "4915100000000", true,
         causefile::PortFault::None},
        {"--snpp", "COM1 reject-page=4915100000000", "4915100000000", true,
         causefile::PortFault::None},
        {"--wctp", "COM1 reject-page=4915100000000", "4915100000000", true,
         causefile::PortFault::None},
        {"--gsm", "COM1 reject-page=4915100000000", "4915100000000", true,
         causefile::PortFault::None},
        {"--snpp", "COM1 drop-after=0", "4915112345678", false, causefile::PortFault::Unreachable},
        {"--tcp", "COM1 silent", "4915112345678", false, causefile::PortFault::Unreachable},
        {"--wctp", "COM1 drop-after=0", "4915112345678", false, causefile::PortFault::Unreachable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.scenario);
        startSim(QString::fromLatin1(c.scenario) + u'\n', QStringLiteral("1"),
                 QString::fromLatin1(c.option));
        PortRecord r = message(3, QStringLiteral("for nobody"), QString::fromLatin1(c.pin));
        r.timeout = 2;
        writePortFile({r});
        EXPECT_EQ(runDialer(), 1);
        const causefile::Causes got = causes();
        EXPECT_EQ(got.final.contains(3), c.final) << trace().constData();
        EXPECT_TRUE(got.pages.contains(3));
        EXPECT_EQ(got.port, c.port) << got.portWhy.toStdString();
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        reset();
    }
}

// Every reply but a 2xx wctp-Success fails the page; only 400-599 failures
// are final; the peer never sees a page more often than the trace shows an
// attempt, even when it drops the connection before its reply.
TEST_F(CarrierFaults, WctpStatusesRefusalsAndDropsAgainstAScriptedCarrier) {
    const struct {
        QStringList replies;
        int pages;
        QList<std::int16_t> statuses;
        int requests;  // what the carrier received
        bool final;    // the first page's failure is final
        const char* cause;
    } cases[] = {
        {{"200:success"}, 2, {2, 2}, 2, false, ""},
        {{"302:success"}, 1, {3}, 1, false, "HTTP 302"},
        {{"401:success"}, 1, {3}, 1, false, "HTTP 401"},
        {{"404:success"}, 1, {3}, 1, false, "HTTP 404"},
        {{"500:success"}, 1, {3}, 1, false, "HTTP 500"},
        {{"200:failure:401"}, 1, {3}, 1, true, "carrier error 401"},
        {{"200:failure:604"}, 1, {3}, 1, false, "carrier error 604"},
        {{"200:success", "drop", "200:success"}, 4, {2, 3, 3, 3}, 2, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replies.join(u' ').toStdString());
        const QByteArray port = startPeer(
            QStringList{QStringLiteral("wctp"), path(QStringLiteral("peer.jsonl"))} + c.replies);
        writeFile(QStringLiteral("calvex.ini"),
                  "[ports]\nCOM1=wctp:http://127.0.0.1:" + port + "/wctp\n");
        QList<PortRecord> recs;
        for (int i = 1; i <= c.pages; ++i) {
            recs << message(i, QStringLiteral("page %1").arg(i), QStringLiteral("4915112345678"));
            recs.last().tapPassword = QStringLiteral("s3cr&t");
        }
        writePortFile(recs);
        runDialer();
        expectStatuses(c.statuses.contains(3) ? 3 : 2, c.statuses);
        const QByteArray t = trace();
        EXPECT_EQ(peerLog().size(), c.requests) << t.constData();
        EXPECT_EQ(t.count("-- -> <?xml"), c.requests) << t.constData();
        EXPECT_FALSE(t.contains("s3cr")) << "a security code in the trace";
        EXPECT_TRUE(t.contains("securityCode=\"***\""));
        if (c.statuses.first() != 2) {
            EXPECT_EQ(causes().final.contains(1), c.final);
            EXPECT_TRUE(causes().pages.value(1).contains(QLatin1String(c.cause)))
                << causes().pages.value(1).toStdString();
        }
        m_peer.kill();
        m_peer.waitForFinished(5000);
        reset();
    }
}

// A line the SNPP server sends unasked shifts every reply after it: no page
// may count as sent on a reply that was not its own.
TEST_F(CarrierFaults, AStraySnppLineSendsNoPageAsSent) {
    const QByteArray port = startPeer({QStringLiteral("snpp"), path(QStringLiteral("peer.jsonl")),
                                       QStringLiteral("554 refused"), QStringLiteral("250 sent")});
    writeFile(QStringLiteral("calvex.ini"), "[ports]\nCOM1=snpp:127.0.0.1:" + port + "\n");
    PortRecord one = message(1, QStringLiteral("one"), QStringLiteral("4915112345678"));
    one.tapPassword = QStringLiteral("hunter2");
    writePortFile({one, message(2, QStringLiteral("two"), QStringLiteral("4915112345678"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {3, 3});
    const QByteArray t = trace();
    EXPECT_TRUE(t.contains("unexpected line from the server")) << t.constData();
    EXPECT_FALSE(t.contains("hunter2"));
}

// A wrong SIM PIN reaches the SIM once, whatever the retries and runs; a
// new PIN in calvex.ini is tried (once) again.
TEST_F(CarrierFaults, AWrongSimPinIsSentOnceAcrossRuns) {
    const struct {
        const char* pin;
        int pinSent;  // AT+CPIN="..." commands in the run's trace
        std::int16_t status;
        causefile::PortFault port;
    } runs[] = {
        {"9999", 1, 5, causefile::PortFault::Unusable},
        {"9999", 0, 5, causefile::PortFault::Unusable},
        {"9999", 0, 5, causefile::PortFault::Unusable},
        {"1234", 1, 2, causefile::PortFault::None},
        {"9999", 1, 5, causefile::PortFault::Unusable},
    };
    for (const auto& r : runs) {
        startSim(QStringLiteral("COM1 sim-pin=1234\n"), QStringLiteral("1"),
                 QStringLiteral("--gsm"), QByteArray("[gsm]\npin=") + r.pin + '\n');
        writePortFile({message(1, QStringLiteral("hi"), QStringLiteral("+4915112345678"))});
        runDialer();
        const QByteArray t = trace();
        SCOPED_TRACE(t.toStdString());
        expectStatuses(r.status, {r.status});
        EXPECT_EQ(t.count("-> AT+CPIN=\""), r.pinSent);
        EXPECT_FALSE(t.contains(QByteArray("\"") + r.pin + '"'));
        EXPECT_EQ(causes().port, r.port);
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        reset();
    }
}

// A name server that never answers holds no run past its Timeout, and a
// stop request ends the look-up within a second, with the statuses written.
TEST_F(CarrierFaults, ASilentNameServerHoldsNoRunPastItsTimeoutOrAStop) {
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-rmn"), QStringLiteral("true")});
    if (!probe.waitForFinished(5000) || probe.exitCode() != 0) {
        GTEST_SKIP() << "no user namespaces here (unshare -rmn)";
    }
    const struct {
        const char* entry;
        double term;  // seconds before SIGTERM; 0: none
        std::int16_t status;
    } cases[] = {
        {"tcp:carrier.example.test:5000", 0, 3},         {"snpp:carrier.example.test:444", 0, 3},
        {"wctp:http://carrier.example.test/wctp", 0, 3}, {"tcp:carrier.example.test:5000", 1, 4},
        {"wctp:http://carrier.example.test/wctp", 1, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + (c.term > 0 ? " stopped" : ""));
        writeFile(QStringLiteral("calvex.ini"), QByteArray("[ports]\nCOM1=") + c.entry + '\n');
        PortRecord r = message(1, QStringLiteral("one"), QStringLiteral("4915112345678"));
        r.timeout = c.term > 0 ? 30 : 2;
        writePortFile({r});
        QStringList args{QStringLiteral("-rmn"), QStringLiteral("python3"),
                         kPeers + QStringLiteral("/silent_dns.py")};
        if (c.term > 0) {
            args << QStringLiteral("--term") << QString::number(c.term);
        }
        args << path(QStringLiteral("resolv.conf")) << test::binDir() + QStringLiteral("/calvex")
             << QStringLiteral(" 1");
        QProcess run;
        run.setWorkingDirectory(dir());
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.start(QStringLiteral("unshare"), args);
        ASSERT_TRUE(run.waitForFinished(60000));
        const auto lines = test::jsonLines(run.readAllStandardOutput());
        ASSERT_EQ(lines.size(), 1);
        const double seconds = lines[0].value(QLatin1String("seconds")).toDouble();
        if (c.term > 0) {
            EXPECT_LT(lines[0].value(QLatin1String("after_term")).toDouble(), 1.0);
        } else {
            EXPECT_LT(seconds, r.timeout + 1.5) << trace().constData();
        }
        expectStatuses(c.status, {c.status});
        reset();
    }
}

// A carrier with certificates from a private CA that requires a client
// certificate: reached with [wctp] cafile or capath and certfile/keyfile,
// refused without them.
TEST_F(CarrierFaults, TlsWithAPrivateCaAndAClientCertificate) {
    const auto openssl = [this](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir());
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    const QString days = QStringLiteral("2");
    ASSERT_TRUE(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                         "-out", "ca.pem", "-days", days, "-subj", "/CN=Test carrier CA"}));
    for (const char* who : {"server", "client"}) {
        const QString name = QLatin1String(who);
        ASSERT_TRUE(
            openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                     name + ".csr", "-subj", name == u"server" ? "/CN=localhost" : "/CN=vantrel"}));
        writeFile(name + QStringLiteral(".ext"), name == u"server"
                                                     ? "subjectAltName=DNS:localhost\n"
                                                     : "extendedKeyUsage=clientAuth\n");
        ASSERT_TRUE(openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey",
                             "ca.key", "-CAcreateserial", "-out", name + ".pem", "-days", days,
                             "-extfile", name + ".ext"}));
    }
    QDir(dir()).mkdir(QStringLiteral("cas"));
    QFile::copy(path(QStringLiteral("ca.pem")), path(QStringLiteral("cas/ca.pem")));
    ASSERT_TRUE(openssl({"rehash", path(QStringLiteral("cas"))}));
    const QByteArray ca = path(QStringLiteral("ca.pem")).toUtf8(),
                     cas = path(QStringLiteral("cas")).toUtf8(),
                     client = "certfile=" + path(QStringLiteral("client.pem")).toUtf8() +
                              "\nkeyfile=" + path(QStringLiteral("client.key")).toUtf8() + '\n';
    const struct {
        const char* name;
        QByteArray settings;
        std::int16_t status;
        int requests;
    } cases[] = {
        {"CA file and client certificate", "cafile=" + ca + '\n' + client, 2, 1},
        {"CA folder and client certificate", "capath=" + cas + '\n' + client, 2, 1},
        {"no client certificate", "cafile=" + ca + '\n', 3, 0},
        {"the system's CAs only", client, 3, 0},
    };
    const QByteArray port = startPeer(
        {QStringLiteral("wctp"), QStringLiteral("--cert"), path(QStringLiteral("server.pem")),
         QStringLiteral("--key"), path(QStringLiteral("server.key")), QStringLiteral("--ca"),
         path(QStringLiteral("ca.pem")), path(QStringLiteral("peer.jsonl")),
         QStringLiteral("200:success")});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(QStringLiteral("calvex.ini"),
                  "[ports]\nCOM1=wctp:https://localhost:" + port + "/wctp\n[wctp]\n" + c.settings);
        writePortFile({message(1, QStringLiteral("over TLS"), QStringLiteral("4915112345678"))});
        runDialer();
        expectStatuses(c.status, {c.status});
        int requests = 0;
        for (const QJsonObject& o : peerLog()) {
            requests += o.contains(QLatin1String("messageID")) ? 1 : 0;
        }
        EXPECT_EQ(requests, c.requests) << trace().constData();
        reset();
    }
}

// A network that takes one part per attempt: each retry of a long SMS
// goes on from the first part not accepted, under the same reference, and
// the handset gets one whole message.
TEST_F(CarrierFaults, ALongSmsRetryResendsOnlyThePartsNotAccepted) {
    startSim(QStringLiteral("COM1 drop-after=1\n"), QStringLiteral("1"), QStringLiteral("--gsm"));
    QString text;
    for (int i = 0; text.size() < 400; ++i) {
        text += QStringLiteral("word%1 ").arg(i);
    }
    text = text.trimmed();
    const std::int16_t statuses[] = {3, 3, 2};
    for (const std::int16_t status : statuses) {
        writePortFile({message(1, text, QStringLiteral("+4915112345678"))});
        runDialer();
        expectStatuses(status, {status});
        if (status == 3) {
            EXPECT_FALSE(causes().final.contains(1));
        }
    }
    const QByteArray t = trace();
    EXPECT_EQ(t.count("accepted in an earlier attempt"), 2) << t.constData();
    EXPECT_EQ(t.count("-> AT+CMGS="), 5) << t.constData();  // 3 parts, 2 refused
    ASSERT_EQ(pages().size(), 1);
    EXPECT_EQ(pages()[0].value(QLatin1String("parts")).toInt(), 3);
    EXPECT_EQ(test::str(pages()[0], "text"), text);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("calvex-sms.parts"))));
}

}  // namespace
}  // namespace vts
