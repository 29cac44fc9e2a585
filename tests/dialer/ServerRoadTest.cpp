// The whole road for every port kind beside the modem: vtspage writes a
// message file, the real vtsmonitor (no display) hands it to the pager
// control, calvex delivers it through the port's endpoint in pagesim, and
// the log row, the message file and the status lines end as for a modem.
#include <ConfigStore.h>
#include <Database.h>
#include <LogStore.h>
#include <TestSupport.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

namespace vts {
namespace {

using test::binDir;

class ServerRoad : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        QDir d(dir());
        for (const char* sub : {"queue/PENDING", "queue/SENT", "queue/FAILED"}) {
            ASSERT_TRUE(d.mkpath(QString::fromLatin1(sub)));
        }
        configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("delete from tblModems"));
        db->execute(QStringLiteral("update tblConfig set CheckTime=0, NumberOfRetries=0, "
                                   "DelayBeforeRetries=1, TimeOut=5, PageFailAlert=0, "
                                   "ModemFailAlert=0, AudioAlert=0, VisualAlert=0, "
                                   "PMFExpireDays=NULL, MessageQueueLocation=?"),
                    {path(QStringLiteral("queue"))});
    }
    void TearDown() override {
        for (QProcess* p : {&m_server, &m_sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        TempDirTest::TearDown();
    }

    // COM ports in tblModems, and pagesim's endpoint for each.
    void startSim(const QStringList& portArgs, const QString& scenario = QString()) {
        auto db = configstore::open(dir());
        for (int com = 1; com <= portArgs.size() / 2; ++com) {
            db->execute(QStringLiteral("insert into tblModems (ComPort) values (?)"),
                        {QStringLiteral("COM%1").arg(com)});
        }
        writeFile(QStringLiteral("calvex.ini"), "[tap]\nt1=0.5\nt3=5\n[gsm]\npin=1234\n");
        QStringList args{QStringLiteral("--dir"),   path(QStringLiteral("sim")),
                         QStringLiteral("--pages"), path(QStringLiteral("pages.jsonl")),
                         QStringLiteral("--ini"),   path(QStringLiteral("calvex.ini"))};
        if (!scenario.isEmpty()) {
            writeFile(QStringLiteral("scenario.txt"), scenario.toUtf8());
            args << QStringLiteral("--scenario") << path(QStringLiteral("scenario.txt"));
        }
        m_sim.start(binDir() + QStringLiteral("/pagesim"), args + portArgs);
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        QByteArray out;
        QDeadlineTimer dl(10000);
        while (!out.contains("ready\n") &&
               m_sim.waitForReadyRead(static_cast<int>(dl.remainingTime()))) {
            out += m_sim.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains("ready\n")) << out.toStdString();
    }

    void startServer() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("VANTREL_SYSTEM_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_server.setWorkingDirectory(dir());
        m_server.setProcessEnvironment(env);
        m_server.start(binDir() + QStringLiteral("/vtsmonitor"), QStringList());
        ASSERT_TRUE(m_server.waitForStarted(5000));
    }

    bool waitForOutput(const QString& text, int ms = 45000) {
        QDeadlineTimer dl(ms);
        for (;;) {
            m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
            if (m_out.contains(text)) {
                return true;
            }
            if (dl.hasExpired() || m_server.state() == QProcess::NotRunning) {
                return false;
            }
            m_server.waitForReadyRead(static_cast<int>(std::max<qint64>(dl.remainingTime(), 1)));
        }
    }

    QString page(const QString& text, const QString& pin,
                 const QString& phone = QStringLiteral("5551234")) {
        QProcess p;
        p.start(binDir() + QStringLiteral("/vtspage"),
                {QStringLiteral("--queue"), path(QStringLiteral("queue")),
                 QStringLiteral("--phone"), phone, QStringLiteral("--pin"), pin,
                 QStringLiteral("--computer"), QStringLiteral("ROAD-PC"), text});
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    QStringList filesIn(const QString& sub) const {
        return QDir(path(QStringLiteral("queue/") + sub)).entryList(QDir::Files, QDir::Name);
    }

    // Status of each tblLog row, in ID order.
    QList<int> logStatuses() {
        QList<int> out;
        auto db = logstore::open(dir());
        auto rs = db->openQuery(QStringLiteral("select Status from tblLog order by ID"));
        for (; !rs->eof(); rs->moveNext()) {
            out << rs->int32(QStringLiteral("Status"));
        }
        return out;
    }

    void stopServer() {
        ::kill(static_cast<pid_t>(m_server.processId()), SIGTERM);
        ASSERT_TRUE(m_server.waitForFinished(15000));
        EXPECT_EQ(m_server.exitCode(), 0);
    }

    QProcess m_server;
    QProcess m_sim;
    QString m_out;
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

INSTANTIATE_TEST_SUITE_P(Kinds, ServerRoadKind,
                         ::testing::Values(Road{"TapOverTcp", "--tcp", "tcp"},
                                           Road{"Snpp", "--snpp", "snpp"},
                                           Road{"Wctp", "--wctp", "wctp"},
                                           Road{"Gsm", "--gsm", "gsm"}),
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

}  // namespace
}  // namespace vts
