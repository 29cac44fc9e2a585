// The e-mail and SMPP carriers against peers no one here wrote: Debian's
// aiosmtpd as the mail server (STARTTLS and log-in required), Debian's
// Net::SMPP as the SMS centre. Each page's status and whether its failure
// is final come from the peer's own reply.
#include "DialerRun.h"

#include <CauseFile.h>
#include <DeliveryStore.h>
#include <LogStore.h>
#include <SmsPdu.h>

#include <QCryptographicHash>
#include <QDir>

#include <functional>

namespace vts {
namespace {

using test::message;
using test::str;

const QString kPeers = QStringLiteral(DIALER_PEERS_DIR);

class PeerProcess : public test::DialerRun {
public:
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
        for (const char* f : {"KRX1.log", "peer.jsonl", "mordax1.why", "calvex-delivery.jsonl",
                              "calvex-sms.parts"}) {
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
        {"no mail domain", QByteArray(good).replace("@pager.example.org", ""), "domain"},
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

class SmscPeer : public PeerProcess {
public:
    void SetUp() override {
        PeerProcess::SetUp();
        QProcess p;
        p.start(QStringLiteral("perl"), {QStringLiteral("-MNet::SMPP"), QStringLiteral("-e1")});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            GTEST_SKIP() << "Net::SMPP is not installed (Debian: libnet-smpp-perl)";
        }
    }
    QList<QJsonObject> events(const char* event) {
        QList<QJsonObject> out;
        for (const QJsonObject& o : peerLog()) {
            if (str(o, "event") == QLatin1String(event)) {
                out << o;
            }
        }
        return out;
    }
};

// The text of submits as the handset would join them: each part's user
// data header read, the parts put in order.
QString joined(const QList<QJsonObject>& submits, int* reference = nullptr) {
    QMap<int, QString> parts;
    for (const QJsonObject& s : submits) {
        QByteArray m = QByteArray::fromHex(str(s, "message").toLatin1());
        int sequence = 1;
        if (s.value(QLatin1String("esm_class")).toInt() & 0x40) {
            const int udhl = static_cast<unsigned char>(m[0]);
            if (reference) {
                *reference = static_cast<unsigned char>(m[3]);
            }
            sequence = static_cast<unsigned char>(m[5]);
            m = m.mid(udhl + 1);
        }
        QString text;
        if (s.value(QLatin1String("data_coding")).toInt() == 8) {
            for (qsizetype i = 0; i + 1 < m.size(); i += 2) {
                text += QChar(static_cast<char16_t>((static_cast<unsigned char>(m[i]) << 8) |
                                                    static_cast<unsigned char>(m[i + 1])));
            }
        } else {
            text = sms::fromGsm7(m);
        }
        parts.insert(sequence, text);
    }
    return QStringList(parts.values()).join(QString());
}

// How often the centre saw each part of the concatenated submits, and the
// references they went under.
QMap<int, int> partsSeen(const QList<QJsonObject>& submits, QSet<int>* references) {
    QMap<int, int> seen;
    for (const QJsonObject& s : submits) {
        const QByteArray m = QByteArray::fromHex(str(s, "message").toLatin1());
        if ((s.value(QLatin1String("esm_class")).toInt() & 0x40) && m.size() > 6) {
            ++seen[static_cast<unsigned char>(m[5])];
            references->insert(static_cast<unsigned char>(m[3]));
        }
    }
    return seen;
}

// The digest an SMPP text's entry in calvex-sms.parts carries.
QByteArray smppDigest(const QByteArray& digits, const QString& text) {
    return QCryptographicHash::hash("smpp\n" + digits + '\n' + text.toUtf8(),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(32);
}

// Every row is one batch against Debian's Net::SMPP as the SMS centre
// (sent `runs` times, as the server retries it: every run before the last
// fails its pages for a retry): each page's status and finality from its
// own submit_sm_resp, and what the centre saw of the sessions.
TEST_F(SmscPeer, SessionsAgainstAnSmsCentre) {
    QString longText;
    for (int i = 0; longText.size() < 400; ++i) {
        longText += QStringLiteral("word%1 ").arg(i);
    }
    longText = longText.trimmed() + QStringLiteral(" {euro}");
    // Characters the port file carries (Windows-1252) but GSM 7-bit does not.
    const QString unicode = QString::fromUtf8("C\u00f4te d\u2019Azur \u2013 5 \u20ac");
    using Check = std::function<void(SmscPeer&)>;
    // The long text sent again after its part `again` failed: the centre
    // saw that part twice and every other once, all under one reference,
    // and the parts file is gone.
    const auto resent = [&](int again, const Check& more) -> Check {
        return [&, again, more](SmscPeer& t) {
            QMap<int, int> seen{{1, 1}, {2, 1}, {3, 1}};
            seen[again] = 2;
            QSet<int> references;
            const auto s = t.events("submit");
            EXPECT_EQ(partsSeen(s, &references), seen);
            EXPECT_EQ(references.size(), 1);
            EXPECT_EQ(joined(s), longText);
            EXPECT_FALSE(QFile::exists(path(QStringLiteral("calvex-sms.parts"))));
            more(t);
        };
    };
    const struct {
        const char* name;
        QStringList peer;                          // smsc.pl options
        QByteArray smpp;                           // [smpp] settings beyond the log-in
        QList<QPair<const char*, QString>> pages;  // PIN, text
        QList<std::int16_t> statuses;
        QSet<int> final;
        bool portFault;
        Check check;
        int runs = 1;
        QByteArray partsFile = {};  // calvex-sms.parts before the first run
    } cases[] = {
        {"bind, submit, unbind",
         {},
         "",
         {{"+49 151 1234-5678", QStringLiteral("Hello [1]")}},
         {2},
         {},
         false,
         [](SmscPeer& t) {
             const auto bind = t.events("bind");
             ASSERT_EQ(bind.size(), 1);
             EXPECT_EQ(str(bind[0], "type"), QStringLiteral("transmitter"));
             EXPECT_EQ(str(bind[0], "system_id"), QStringLiteral("vantrel"));
             const auto s = t.events("submit");
             ASSERT_EQ(s.size(), 1);
             EXPECT_EQ(str(s[0], "dest"), QStringLiteral("4915112345678"));
             EXPECT_EQ(s[0].value(QLatin1String("dest_ton")).toInt(), 1);
             EXPECT_EQ(str(s[0], "source"), QStringLiteral("VANTREL"));
             EXPECT_EQ(s[0].value(QLatin1String("data_coding")).toInt(), 0);
             EXPECT_EQ(s[0].value(QLatin1String("registered_delivery")).toInt(), 0);
             EXPECT_EQ(joined(s), QStringLiteral("Hello [1]"));
             EXPECT_EQ(t.events("unbind").size(), 1);
             EXPECT_TRUE(t.trace().contains("message_id m1"));
             EXPECT_FALSE(t.trace().contains("secret"));
         }},
        {"each reply judges its page",
         {},
         "",
         {{"9990001", QStringLiteral("invalid destination")},
          {"8880001", QStringLiteral("throttled")},
          {"7770001", QStringLiteral("system error")},
          {"4440001", QStringLiteral("nacked")},
          {"4915112345678", QStringLiteral("taken")}},
         {3, 3, 3, 3, 2},
         {1},
         false,
         [](SmscPeer& t) {
             EXPECT_TRUE(t.causes().pages.value(1).contains(QLatin1String("ESME_RINVDSTADR")));
             EXPECT_TRUE(t.causes().pages.value(2).contains(QLatin1String("ESME_RTHROTTLED")));
             EXPECT_TRUE(t.causes().pages.value(4).contains(QLatin1String("generic_nack")));
         }},
        {"a window of three",
         {QStringLiteral("--hold"), QStringLiteral("5")},
         "window=3\n",
         {{"4915100000001", QStringLiteral("one")},
          {"4915100000002", QStringLiteral("two")},
          {"4915100000003", QStringLiteral("three")},
          {"4915100000004", QStringLiteral("four")},
          {"4915100000005", QStringLiteral("five")},
          {"4915100000006", QStringLiteral("six")},
          {"4915100000007", QStringLiteral("seven")}},
         {2, 2, 2, 2, 2, 2, 2},
         {},
         false,
         [](SmscPeer& t) {
             const auto s = t.events("submit");
             ASSERT_EQ(s.size(), 7);
             EXPECT_EQ(s.last().value(QLatin1String("outstanding")).toInt(), 3);
         }},
        {"long texts in parts under one reference",
         {},
         "",
         {{"4915112345678", longText}, {"4915112345679", unicode}},
         {2, 2},
         {},
         false,
         [&](SmscPeer& t) {
             QList<QJsonObject> first, second;
             for (const QJsonObject& s : t.events("submit")) {
                 (str(s, "dest").endsWith(u'8') ? first : second) << s;
             }
             ASSERT_EQ(first.size(), 3);
             int reference = -1;
             EXPECT_EQ(joined(first, &reference), longText);
             for (const QJsonObject& s : first) {
                 EXPECT_EQ(s.value(QLatin1String("esm_class")).toInt(), 0x40);
                 int r = -2;
                 joined({s}, &r);
                 EXPECT_EQ(r, reference);
             }
             ASSERT_EQ(second.size(), 1);
             EXPECT_EQ(second[0].value(QLatin1String("data_coding")).toInt(), 8);
             EXPECT_EQ(joined(second), unicode);
         }},
        // A long text whose second part is refused for the moment: the
        // retry sends that part alone, under the same reference, and the
        // handset gets each part once.
        {"a long text's throttled part is sent again alone",
         {QStringLiteral("--fail"), QStringLiteral("2:throttle")},
         "",
         {{"4915112345678", longText}},
         {2},
         {},
         false,
         resent(2,
                [](SmscPeer& t) {
                    EXPECT_EQ(t.trace().count("part(s) 1,3 of 3 accepted in an earlier attempt"),
                              1);
                }),
         2},
        // Every part in flight at once, answered last part first: the
        // first part, taken after the second was refused, still counts;
        // the receipts are awaited for each part's message ID in the order
        // of the parts.
        {"parts in flight together, answered out of order",
         {QStringLiteral("--hold"), QStringLiteral("3"), QStringLiteral("--reverse"),
          QStringLiteral("--quiet"), QStringLiteral("--fail"), QStringLiteral("2:syserr")},
         "registered_delivery=on\n",
         {{"4915112345678", longText}},
         {2},
         {},
         false,
         resent(2,
                [this](SmscPeer& t) {
                    EXPECT_EQ(t.events("submit")[2].value(QLatin1String("outstanding")).toInt(), 3);
                    const auto notes =
                        test::jsonLines(readFile(QStringLiteral("calvex-delivery.jsonl")));
                    ASSERT_EQ(notes.size(), 1);
                    EXPECT_EQ(notes[0].value(QLatin1String("message_ids")).toArray(),
                              (QJsonArray{QStringLiteral("m2"), QStringLiteral("m3"),
                                          QStringLiteral("m1")}));
                }),
         2},
        // The session lost as the last part arrives: the retry sends only it.
        {"a long text's session lost at its last part",
         {QStringLiteral("--fail"), QStringLiteral("3:drop")},
         "",
         {{"4915112345678", longText}},
         {2},
         {},
         false,
         resent(3, [](SmscPeer&) {}),
         2},
        // Every part taken in the attempt that ended before the page's
        // status was written: the page is sent without a submit.
        {"a long text whose every part was taken before",
         {},
         "registered_delivery=on\n",
         {{"4915112345678", longText}},
         {2},
         {},
         false,
         [this](SmscPeer& t) {
             EXPECT_TRUE(t.events("submit").isEmpty());
             const auto notes = test::jsonLines(readFile(QStringLiteral("calvex-delivery.jsonl")));
             ASSERT_EQ(notes.size(), 1);
             EXPECT_EQ(
                 notes[0].value(QLatin1String("message_ids")).toArray(),
                 (QJsonArray{QStringLiteral("m7"), QStringLiteral("m8"), QStringLiteral("m9")}));
             EXPECT_FALSE(QFile::exists(path(QStringLiteral("calvex-sms.parts"))));
         },
         1,
         "1001-1\t" + smppDigest("4915112345678", longText) + "\t42\t3\t1:6d37,2:6d38,3:6d39\n"},
        {"a dropped connection",
         {},
         "",
         {{"4915112345678", QStringLiteral("taken")},
          {"6660001", QStringLiteral("dropped")},
          {"4915112345678", QStringLiteral("after")}},
         {2, 3, 3},
         {},
         false,
         [](SmscPeer& t) {
             EXPECT_TRUE(t.causes().pages.value(2).contains(QLatin1String("connection lost")));
         }},
        {"a refused bind",
         {QStringLiteral("--user"), QStringLiteral("vantrel"), QStringLiteral("--password"),
          QStringLiteral("other")},
         "",
         {{"4915112345678", QStringLiteral("one")}, {"4915112345678", QStringLiteral("two")}},
         {3, 3},
         {},
         true,
         [](SmscPeer& t) {
             EXPECT_TRUE(t.causes().portWhy.contains(QLatin1String("ESME_RINVPASWD")));
             EXPECT_TRUE(t.events("submit").isEmpty());
         }},
        {"the centre's requests and a keep-alive",
         {QStringLiteral("--ping"), QStringLiteral("--delay"), QStringLiteral("1.6")},
         "enquire_link=1\n",
         {{"4915112345678", QStringLiteral("slow")}},
         {2},
         {},
         false,
         [](SmscPeer& t) {
             EXPECT_EQ(t.events("enquire_link_resp").size(), 1);
             const auto nacks = t.events("nack");
             ASSERT_EQ(nacks.size(), 1);
             EXPECT_EQ(nacks[0].value(QLatin1String("status")).toInt(), 3);  // ESME_RINVCMDID
             EXPECT_GE(t.events("enquire_link").size(), 1);
         }},
        {"receipts asked for",
         {},
         "registered_delivery=on\n",
         {{"4915112345678", QStringLiteral("reaches")}, {"5550001", QStringLiteral("does not")}},
         {2, 2},
         {},
         false,
         [](SmscPeer& t) {
             EXPECT_EQ(str(t.events("bind").value(0), "type"), QStringLiteral("transceiver"));
             for (const QJsonObject& s : t.events("submit")) {
                 EXPECT_EQ(s.value(QLatin1String("registered_delivery")).toInt(), 1);
             }
             // The centre stops reading at unbind: a reply to a late receipt
             // may go unseen by it.
             const auto resps = t.events("deliver_sm_resp");
             ASSERT_GE(resps.size(), 1);
             EXPECT_EQ(resps[0].value(QLatin1String("status")).toInt(), 0);
             EXPECT_TRUE(t.trace().contains("receipt for m1: DELIVRD")) << t.trace().constData();
             EXPECT_TRUE(t.trace().contains("receipt for m2: UNDELIV err 001"));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray port =
            startPeer(QStringLiteral("perl"), QStringList{kPeers + QStringLiteral("/smsc.pl")} +
                                                  c.peer + QStringList{path("peer.jsonl")});
        writeFile(QStringLiteral("calvex.ini"),
                  "[ports]\nCOM1=smpp:127.0.0.1:" + port +
                      "\n[smpp]\nsystem_id=vantrel\npassword=secret\nsource_addr=VANTREL\n" +
                      c.smpp);
        QList<PortRecord> recs;
        for (int i = 0; i < c.pages.size(); ++i) {
            recs << message(i + 1, c.pages[i].second, QString::fromUtf8(c.pages[i].first));
        }
        if (!c.partsFile.isEmpty()) {
            writeFile(QStringLiteral("calvex-sms.parts"), c.partsFile);
        }
        for (int run = 1; run < c.runs; ++run) {
            writePortFile(recs);
            runDialer();
            expectStatuses(3, QList<std::int16_t>(c.statuses.size(), 3));
            EXPECT_TRUE(causes().final.isEmpty());
        }
        writePortFile(recs);
        runDialer();
        const std::int16_t header =
            std::all_of(c.statuses.begin(), c.statuses.end(), [](auto s) { return s == 2; }) ? 2
                                                                                             : 3;
        expectStatuses(header, c.statuses);
        EXPECT_EQ(causes().final, c.final);
        EXPECT_EQ(causes().port != causefile::PortFault::None, c.portFault)
            << causes().portWhy.toStdString();
        c.check(*this);
        if (HasFailure()) {
            ADD_FAILURE() << trace().constData();
            return;
        }
        m_peer.kill();
        m_peer.waitForFinished(5000);
        reset();
    }
}

// Receipts that come after the run has ended reach tblDelivery through the
// receiver, which stays bound until stopped; vtsctl shows what they said,
// and a page without one shows "no receipt" once the set time has passed.
TEST_F(SmscPeer, LateReceiptsReachTheLogThroughTheReceiver) {
    logstore::create(dir());
    {
        auto log = logstore::open(dir());
        for (int id = 1001; id <= 1003; ++id) {
            log->execute(QStringLiteral("INSERT INTO tblLog (ID, Status, StatusDescription, "
                                        "TAPPIN, Message, SentTime) VALUES (?, 2, 'Sent', "
                                        "'4915112345678', ?, '2026-01-01 10:00:00')"),
                         {id, QStringLiteral("page %1").arg(id)});
        }
    }
    const QByteArray port = startPeer(
        QStringLiteral("perl"),
        {kPeers + QStringLiteral("/smsc.pl"), QStringLiteral("--quiet"), QStringLiteral("--late"),
         QStringLiteral("m1:DELIVRD:000,m2:UNDELIV:034,m9:DELIVRD:000"), path("peer.jsonl")});
    writeFile(QStringLiteral("calvex.ini"),
              "[ports]\nCOM1=smpp:127.0.0.1:" + port +
                  "\n[smpp]\nsystem_id=vantrel\npassword=secret\nregistered_delivery=on\n"
                  "enquire_link=1\n[delivery]\nnoreceipt=5\n");
    writePortFile({message(1, QStringLiteral("one"), QStringLiteral("4915112345678")),
                   message(2, QStringLiteral("two"), QStringLiteral("4915112345678")),
                   message(3, QStringLiteral("three"), QStringLiteral("4915112345678"))});
    EXPECT_EQ(runDialer(), 0) << trace().constData();
    // The run noted its message IDs; the receiver keeps them.
    EXPECT_TRUE(readFile(QStringLiteral("calvex-delivery.jsonl")).contains("\"m3\""));
    const auto state = [this](qint64 id, const QDateTime& now = QDateTime::currentDateTime()) {
        auto log = logstore::open(dir());
        const auto d = delivery::of(*log, id, delivery::noReceiptMinutes(dir()), now);
        return d ? d->state + (d->reason.isEmpty() ? QString() : u':' + d->reason) : QString();
    };
    QProcess receiver;
    receiver.setWorkingDirectory(dir());
    receiver.setProcessChannelMode(QProcess::ForwardedChannels);
    receiver.start(test::binDir() + QStringLiteral("/vtsreceipts"), {QStringLiteral("1")});
    ASSERT_TRUE(receiver.waitForStarted(5000));
    for (int i = 0; i < 100 && !state(1002).startsWith(QLatin1String("not")); ++i) {
        receiver.waitForFinished(100);
    }
    EXPECT_EQ(state(1001), QStringLiteral("delivered"));
    EXPECT_EQ(state(1002), QStringLiteral("not delivered:UNDELIV err 034"));
    for (int i = 0; i < 100 && state(1003).isEmpty(); ++i) {
        receiver.waitForFinished(100);
    }
    EXPECT_EQ(state(1003), QStringLiteral("awaiting receipt"));
    EXPECT_TRUE(readFile(QStringLiteral("calvex-delivery.jsonl")).isEmpty());
    EXPECT_EQ(state(1003, QDateTime::currentDateTime().addSecs(6 * 60)),
              QStringLiteral("no receipt"));
    ::kill(static_cast<pid_t>(receiver.processId()), SIGTERM);
    ASSERT_TRUE(receiver.waitForFinished(10000));
    EXPECT_EQ(receiver.exitCode(), 0);
    const auto binds = events("bind");
    ASSERT_EQ(binds.size(), 2);
    EXPECT_EQ(str(binds[0], "type"), QStringLiteral("transceiver"));
    EXPECT_EQ(str(binds[1], "type"), QStringLiteral("receiver"));
    EXPECT_EQ(events("unbind").size(), 2);
    const QByteArray receipts = readFile(QStringLiteral("KRX1-receipts.log"));
    EXPECT_TRUE(receipts.contains("receipt for m9 matches no page")) << receipts.constData();
    EXPECT_FALSE(receipts.contains("secret"));

    // vtsctl shows it.
    const auto vtsctl = [this](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir());
        p.start(test::binDir() + QStringLiteral("/vtsctl"), args);
        p.waitForFinished(20000);
        return p.readAllStandardOutput();
    };
    EXPECT_TRUE(vtsctl({QStringLiteral("why"), QStringLiteral("1002")})
                    .contains("Delivery:  not delivered: UNDELIV err 034"));
    const QByteArray pages = vtsctl({QStringLiteral("pages")});
    EXPECT_TRUE(pages.contains("{delivered}")) << pages.constData();
    const QJsonArray rows =
        QJsonDocument::fromJson(vtsctl({QStringLiteral("pages"), QStringLiteral("--json")}))
            .array();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toObject().value(QLatin1String("Delivery")).toString(),
              QStringLiteral("delivered"));
    EXPECT_EQ(rows[2].toObject().value(QLatin1String("Delivery")).toString(),
              QStringLiteral("awaiting receipt"));
}

// smpps: the same session in TLS (the SMS centre behind a TLS front end):
// taken with the private CA named, refused with the system's CAs alone.
TEST_F(SmscPeer, SmppsInTlsWithAPrivateCa) {
    makeCertificates();
    const QByteArray smsc = startPeer(QStringLiteral("perl"),
                                      {kPeers + QStringLiteral("/smsc.pl"), path("peer.jsonl")});
    QProcess proxy;
    proxy.start(QStringLiteral("/usr/bin/python3"),
                {kPeers + QStringLiteral("/tls_proxy.py"), QStringLiteral("--cert"),
                 path(QStringLiteral("server.pem")), QStringLiteral("--key"),
                 path(QStringLiteral("server.key")), QString::fromLatin1(smsc)});
    QByteArray out;
    while (!out.contains('\n') && proxy.waitForReadyRead(15000)) {
        out += proxy.readAllStandardOutput();
    }
    const QByteArray port = out.trimmed().mid(5);
    ASSERT_FALSE(port.isEmpty());
    const struct {
        const char* name;
        QByteArray tls;
        std::int16_t status;
        int submits;
    } cases[] = {
        {"CA file", "cafile=" + path(QStringLiteral("ca.pem")).toUtf8() + '\n', 2, 1},
        {"the system's CAs only", "", 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(QStringLiteral("calvex.ini"), "[ports]\nCOM1=smpps:localhost:" + port +
                                                    "\n[smpp]\nsystem_id=vantrel\n" + c.tls);
        writePortFile({message(1, QStringLiteral("over TLS"), QStringLiteral("4915112345678"))});
        runDialer();
        expectStatuses(c.status, {c.status});
        EXPECT_EQ(events("submit").size(), c.submits) << trace().constData();
        if (c.status != 2) {
            EXPECT_EQ(causes().port, causefile::PortFault::Unreachable);
        }
        reset();
    }
    proxy.kill();
    proxy.waitForFinished(5000);
}

}  // namespace
}  // namespace vts
