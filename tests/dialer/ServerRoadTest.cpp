// The whole road for every port kind beside the modem: vtspage writes a
// message file, the real vtsmonitor (no display) hands it to the pager
// control, calvex delivers it through the port's endpoint in pagesim, and
// the log row, the message file and the status lines end as for a modem.
#include <MonitorRun.h>

#include <DeliveryStore.h>
#include <LogStore.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

namespace vts {
namespace {

class ServerRoad : public test::MonitorRun {
protected:
    void SetUp() override {
        MonitorRun::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        configstore::open(dir())->execute(QStringLiteral("update tblConfig set TimeOut=5"));
    }

    // COM ports in tblModems, and pagesim's endpoint for each.
    void startSim(const QStringList& portArgs, const QString& scenario = QString()) {
        auto db = configstore::open(dir());
        for (int com = 1; com <= portArgs.size() / 2; ++com) {
            db->execute(QStringLiteral("insert into tblModems (ComPort) values (?)"),
                        {QStringLiteral("COM%1").arg(com)});
        }
        writeFile(QStringLiteral("calvex.ini"),
                  "[tap]\nt1=0.5\nt3=5\n[gsm]\npin=1234\n"
                  "[smtp]\nto={pin}@pager.example.org\n");
        QStringList args;
        if (!scenario.isEmpty()) {
            writeFile(QStringLiteral("scenario.txt"), scenario.toUtf8());
            args << QStringLiteral("--scenario") << path(QStringLiteral("scenario.txt"));
        }
        MonitorRun::startSim(args + portArgs);
    }

    QString page(const QString& text, const QString& pin,
                 const QString& phone = QStringLiteral("5551234")) {
        return MonitorRun::page(text, pin, phone, QStringLiteral("ROAD-PC"));
    }
};

struct Road {
    const char* name;
    const char* option;
    const char* endpoint;
};

void PrintTo(const Road& r, std::ostream* os) { *os << r.name; }

class ServerRoadKind : public ServerRoad, public ::testing::WithParamInterface<Road> {};

TEST_P(ServerRoadKind, PageEndsAsSent) {
    startSim({QString::fromLatin1(GetParam().option), QStringLiteral("1")});
    const QString file = page(QStringLiteral("Road test page"), QStringLiteral("4915112345678"));
    ASSERT_TRUE(file.endsWith(QStringLiteral(".PMF"))) << file.toStdString();
    startServer();
    ASSERT_TRUE(waitForOutput(
        QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=4915112345678 ID=1")))
        << m_out.toStdString();
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{file});
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
    EXPECT_EQ(logStatuses(), QList<int>{1});
    const QByteArray pages = readFile(QStringLiteral("pages.jsonl"));
    EXPECT_TRUE(pages.contains("Road test page")) << pages.toStdString();
    EXPECT_TRUE(pages.contains(QByteArray("\"endpoint\":\"") + GetParam().endpoint + '"'));
    stopServer();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ServerRoadKind,
    ::testing::Values(Road{"TapOverTcp", "--tcp", "tcp"}, Road{"Snpp", "--snpp", "snpp"},
                      Road{"Wctp", "--wctp", "wctp"}, Road{"Gsm", "--gsm", "gsm"},
                      Road{"Smpp", "--smpp", "smpp"}, Road{"Smtp", "--smtp", "smtp"}),
    [](const auto& info) { return std::string(info.param.name); });

// A carrier asked for receipts confirms the page: the server keeps what the
// run noted when the run ends, with no receipt program running.
struct Receipts {
    const char* name;
    const char* option;
    const char* section;  // of calvex.ini
    const char* setting;  // added to it
};

void PrintTo(const Receipts& r, std::ostream* os) { *os << r.name; }

class ServerRoadReceipts : public ServerRoad, public ::testing::WithParamInterface<Receipts> {};

TEST_P(ServerRoadReceipts, DeliveredPageShowsWithoutAReceiver) {
    startSim({QString::fromLatin1(GetParam().option), QStringLiteral("1")});
    const QByteArray section = QByteArray("[") + GetParam().section + "]\n";
    QByteArray ini = readFile(QStringLiteral("calvex.ini"));
    if (!ini.contains(section)) ini += section;
    writeFile(QStringLiteral("calvex.ini"),
              ini.replace(section, section + GetParam().setting + '\n'));
    page(QStringLiteral("Receipt road page"), QStringLiteral("4915112345678"));
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral("Message sucessfully sent"))) << m_out.toStdString();
    const auto state = [this] {
        auto log = logstore::open(dir());
        const auto d = delivery::of(*log, 1, delivery::kDefaultNoReceiptMinutes);
        return d ? d->state : QString();
    };
    QDeadlineTimer dl(20000);
    while (state() != u"delivered" && !dl.hasExpired()) {
        m_server.waitForReadyRead(100);
    }
    EXPECT_EQ(state(), QStringLiteral("delivered"));
    EXPECT_TRUE(readFile(QStringLiteral("calvex-delivery.jsonl")).isEmpty());
    stopServer();
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServerRoadReceipts,
                         ::testing::Values(Receipts{"Smpp", "--smpp", "smpp",
                                                    "registered_delivery=on"},
                                           Receipts{"Gsm", "--gsm", "gsm", "receipts=on"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerRoad, RefusedPageEndsAsFailed) {
    startSim({QStringLiteral("--snpp"), QStringLiteral("1")},
             QStringLiteral("COM1 reject-page=4915100000000\n"));
    const QString file = page(QStringLiteral("Nobody there"), QStringLiteral("4915100000000"));
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral("4915100000000"))) << m_out.toStdString();
    QDeadlineTimer dl(30000);
    while (filesIn(QStringLiteral("FAILED")).isEmpty() && !dl.hasExpired()) {
        m_server.waitForReadyRead(100);
    }
    EXPECT_EQ(filesIn(QStringLiteral("FAILED")), QStringList{file}) << m_out.toStdString();
    ASSERT_EQ(logStatuses().size(), 1);
    EXPECT_NE(logStatuses().first(), 1);
    EXPECT_FALSE(readFile(QStringLiteral("pages.jsonl")).contains("Nobody there"));
    stopServer();
}

// One working directory, four ports of four kinds: every page is delivered.
TEST_F(ServerRoad, FourKindsInOneWorkingDirectory) {
    startSim({QStringLiteral("--tcp"), QStringLiteral("1"), QStringLiteral("--snpp"),
              QStringLiteral("2"), QStringLiteral("--wctp"), QStringLiteral("3"),
              QStringLiteral("--gsm"), QStringLiteral("4")});
    // The network ports take a batch as soon as one is free again, without
    // the modem's waits: the GSM modem's number has a route of its own, so
    // it reaches the one port that waits.
    writeFile(QStringLiteral("calvex.ini"),
              readFile(QStringLiteral("calvex.ini")) + "\n[routes]\n5551004 = COM4\n");
    QStringList files;
    for (int i = 1; i <= 4; ++i) {
        // One service each: a batch goes to one port, four batches to four ports.
        files << page(QStringLiteral("Four ports page %1").arg(i), QStringLiteral("4915112345678"),
                      QStringLiteral("555100%1").arg(i));
    }
    startServer();
    QDeadlineTimer dl(60000);
    while (filesIn(QStringLiteral("SENT")).size() < 4 && !dl.hasExpired() &&
           m_server.state() == QProcess::Running) {
        m_server.waitForReadyRead(100);
        m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    }
    files.sort();
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), files) << m_out.toStdString();
    EXPECT_EQ(logStatuses(), (QList<int>{1, 1, 1, 1}));
    const QByteArray pages = readFile(QStringLiteral("pages.jsonl"));
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(pages.contains(QStringLiteral("Four ports page %1").arg(i).toUtf8()));
    }
    // The server spreads the pages over its free ports: each kind took one.
    for (const char* endpoint : {"tcp", "snpp", "wctp", "gsm"}) {
        EXPECT_TRUE(pages.contains(QByteArray("\"endpoint\":\"") + endpoint + '"'))
            << endpoint << "\n"
            << pages.constData();
    }
    stopServer();
}

// Routes in calvex.ini: each number reaches only the ports of its route, a
// port that cannot reach its carrier is passed over for the next one at
// once, and a number whose every port is down waits, never sent elsewhere.
TEST_F(ServerRoad, RoutesKeepEachNumberOnItsCarriers) {
    const struct {
        const char* name;
        const char* scenario;
        const char* routes;
        // phone -> the endpoint that must carry it ("" : it must wait)
        QList<QPair<const char*, const char*>> pages;
        const char* statusLine;  // a status line the run must show
    } cases[] = {
        {"two carriers",
         "",
         "5551111 = COM1\n5552222 = COM2\n",
         {{"5551111", "snpp"}, {"5552222", "wctp"}, {"5551111", "snpp"}, {"5552222", "wctp"}},
         ""},
        {"failover",
         "COM1 drop-after=0\n",
         "5551111 = COM1, COM2 ; SNPP first\n",
         {{"5551111", "wctp"}, {"5551111", "wctp"}},
         "route failover: COM1 cannot reach its carrier"},
        {"every port down",
         "COM1 drop-after=0\n",
         "5551111 = COM1\n5552222 = COM2\n",
         {{"5551111", ""}, {"5552222", "wctp"}},
         "route failover: COM1 cannot reach its carrier"},
        {"unrouted number", "", "5551111 = COM1\n", {{"5551111", "snpp"}, {"5553333", "wctp"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startSim({QStringLiteral("--snpp"), QStringLiteral("1"), QStringLiteral("--wctp"),
                  QStringLiteral("2")},
                 QString::fromLatin1(c.scenario));
        writeFile(QStringLiteral("calvex.ini"),
                  readFile(QStringLiteral("calvex.ini")) + "\n[routes]\n" + QByteArray(c.routes));
        int i = 0, delivered = 0;
        for (const auto& [phone, endpoint] : c.pages) {
            page(QStringLiteral("%1 route page %2").arg(QLatin1String(c.name)).arg(++i),
                 QStringLiteral("4915112345678"), QString::fromLatin1(phone));
            delivered += *endpoint ? 1 : 0;
        }
        startServer();
        QDeadlineTimer dl(60000);
        while (filesIn(QStringLiteral("SENT")).size() < delivered && !dl.hasExpired() &&
               m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(100);
        }
        if (*c.statusLine) {
            EXPECT_TRUE(waitForOutput(QString::fromLatin1(c.statusLine), 15000))
                << m_out.toStdString();
        }
        m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
        const QList<QJsonObject> got = test::jsonLines(readFile(QStringLiteral("pages.jsonl")));
        i = 0;
        for (const auto& [phone, endpoint] : c.pages) {
            const QString text =
                QStringLiteral("%1 route page %2").arg(QLatin1String(c.name)).arg(++i);
            QStringList at;
            for (const QJsonObject& p : got) {
                if (p.value(QLatin1String("text")).toString() == text) {
                    at << p.value(QLatin1String("endpoint")).toString();
                }
            }
            EXPECT_EQ(at, *endpoint ? QStringList{QString::fromLatin1(endpoint)} : QStringList{})
                << text.toStdString() << "\n"
                << m_out.toStdString();
        }
        EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), delivered);
        stopServer();
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        for (const char* folder : {"queue/SENT", "queue/PENDING", "queue/FAILED"}) {
            const QString d = path(QLatin1String(folder));
            for (const QString& f : QDir(d).entryList(QDir::Files)) {
                QFile::remove(d + u'/' + f);
            }
        }
        QFile::remove(path(QStringLiteral("pages.jsonl")));
        configstore::open(dir())->execute(QStringLiteral("delete from tblModems"));
        logstore::open(dir())->execute(QStringLiteral("delete from tblLog"));
    }
}

// With three retries: a page the carrier refuses for itself fails after one
// attempt, a lost connection is tried four times; a SIM that refuses its PIN
// makes the port unusable, the page waits, and a new PIN delivers it.
TEST_F(ServerRoad, FinalRefusalsAreNotRetriedAndAWrongSimPinWaitsForANewOne) {
    configstore::open(dir())->execute(
        QStringLiteral("update tblConfig set NumberOfRetries=3, DelayBeforeRetries=1"));
    const struct {
        const char* option;
        const char* scenario;
        const char* pin;
        int retried;  // "tried again later" lines
    } cases[] = {
        {"--snpp", "COM1 reject-page=4915100000000\n", "4915100000000", 0},
        {"--wctp", "COM1 reject-page=4915100000000\n", "4915100000000", 0},
        {"--gsm", "COM1 reject-page=4915100000000\n", "4915100000000", 0},
        {"--snpp", "COM1 drop-after=0\n", "4915112345678", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.scenario);
        startSim({QString::fromLatin1(c.option), QStringLiteral("1")},
                 QString::fromLatin1(c.scenario));
        const QString file = page(QStringLiteral("refused or not"), QString::fromLatin1(c.pin));
        startServer();
        QDeadlineTimer dl(60000);
        while (filesIn(QStringLiteral("FAILED")).isEmpty() && !dl.hasExpired()) {
            m_server.waitForReadyRead(100);
        }
        m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
        EXPECT_EQ(filesIn(QStringLiteral("FAILED")), QStringList{file}) << m_out.toStdString();
        EXPECT_EQ(m_out.count(QStringLiteral("(tried again later)")), c.retried)
            << m_out.toStdString();
        stopServer();
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        QFile::remove(path(QStringLiteral("queue/FAILED/")) + file);
        configstore::open(dir())->execute(QStringLiteral("delete from tblModems"));
    }

    startSim({QStringLiteral("--gsm"), QStringLiteral("1")}, QStringLiteral("COM1 sim-pin=1234\n"));
    const QByteArray ini = readFile(QStringLiteral("calvex.ini"));
    writeFile(QStringLiteral("calvex.ini"), QByteArray(ini).replace("pin=1234", "pin=9999"));
    const QString file = page(QStringLiteral("after a new PIN"), QStringLiteral("4915112345678"));
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral("is unusable: SIM refused PIN"), 30000))
        << m_out.toStdString();
    // Retries come and go: the page waits, and the SIM hears no second try.
    QDeadlineTimer quiet(8000);
    while (!quiet.hasExpired()) {
        m_server.waitForReadyRead(100);
    }
    m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    EXPECT_TRUE(filesIn(QStringLiteral("FAILED")).isEmpty()) << m_out.toStdString();
    EXPECT_TRUE(filesIn(QStringLiteral("SENT")).isEmpty());
    EXPECT_EQ(m_out.count(QStringLiteral("the SIM refused the PIN")), 1) << m_out.toStdString();
    {  // the control socket names the port unusable and why
        QLocalSocket s;
        s.connectToServer(path(QStringLiteral("vtsmonitor.sock")));
        ASSERT_TRUE(s.waitForConnected(1000));
        s.write("status\n");
        while (!s.canReadLine() && s.waitForReadyRead(1000)) {
        }
        const QJsonObject port = QJsonDocument::fromJson(s.readLine())
                                     .object()
                                     .value("ports")
                                     .toArray()
                                     .at(0)
                                     .toObject();
        EXPECT_EQ(port.value("state").toString(), QStringLiteral("unusable"));
        EXPECT_TRUE(port.value("cause").toString().contains(QStringLiteral("SIM refused PIN")))
            << port.value("cause").toString().toStdString();
    }
    writeFile(QStringLiteral("calvex.ini"), ini);  // the right PIN
    QDeadlineTimer dl(60000);
    while (filesIn(QStringLiteral("SENT")).isEmpty() && !dl.hasExpired()) {
        m_server.waitForReadyRead(100);
    }
    m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{file}) << m_out.toStdString();
    EXPECT_TRUE(m_out.contains(QStringLiteral("calvex.ini changed; port 1 (COM1) is used again")));
    stopServer();
}

}  // namespace
}  // namespace vts
