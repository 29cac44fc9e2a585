// The control socket: in-process for its bounds (16 clients, a client that
// does not read is dropped, a broadcast never waits), and against the real
// headless server and pagesim for status while a call runs, follow and
// reload, through vtsctl.
#include "ControlSocket.h"

#include <MonitorRun.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

namespace vts {
namespace {

class Socket : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        ControlSocket::Hooks hooks;
        hooks.status = [] { return QJsonObject{{"version", "x"}}; };
        hooks.reload = [this] { return ++reloads > 0; };
        control = std::make_unique<ControlSocket>(hooks);
        QString why;
        ASSERT_TRUE(control->listen(dir(), &why)) << why.toStdString();
    }
    // Runs the event loop until `done` or 5 s.
    static bool spin(const std::function<bool()>& done) {
        QDeadlineTimer dl(5000);
        while (!done() && !dl.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }
    std::unique_ptr<QLocalSocket> client(const QByteArray& command) {
        auto s = std::make_unique<QLocalSocket>();
        s->connectToServer(control->path());
        EXPECT_TRUE(s->waitForConnected(1000));
        s->write(command + '\n');
        s->flush();
        return s;
    }
    static QJsonObject answer(QLocalSocket& s) {
        spin([&s] { return s.canReadLine(); });
        return QJsonDocument::fromJson(s.readLine()).object();
    }
    std::unique_ptr<ControlSocket> control;
    int reloads = 0;
};

TEST_F(Socket, AnswersStatusReloadAndFollowInJsonLines) {
    auto a = client("status");
    EXPECT_EQ(answer(*a).value("version").toString(), QStringLiteral("x"));
    auto b = client(R"({"cmd":"reload"})");
    EXPECT_TRUE(answer(*b).value("ok").toBool());
    EXPECT_EQ(reloads, 1);
    auto c = client("follow");
    EXPECT_TRUE(answer(*c).value("following").toBool());
    control->statusLine(QStringLiteral("12/07/2026 10:00:00 - Message failed: Ph#=1 PIN=2 ID=3"));
    control->pageEvent(QStringLiteral("failed"), QStringLiteral("3"), QStringLiteral("BUSY"));
    EXPECT_TRUE(answer(*c).value("line").toString().endsWith(QStringLiteral("ID=3")));
    const QJsonObject event = answer(*c);
    EXPECT_EQ(event.value("event").toString(), QStringLiteral("failed"));
    EXPECT_EQ(event.value("cause").toString(), QStringLiteral("BUSY"));
    auto d = client("bogus");
    EXPECT_TRUE(answer(*d).contains("error"));
    EXPECT_TRUE(QFileInfo(path(ControlSocket::fileName())).exists());
}

TEST_F(Socket, TakesAtMost16ClientsAndDropsOneThatDoesNotRead) {
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < ControlSocket::kMaxClients; ++i) clients.push_back(client("follow"));
    ASSERT_TRUE(spin([this] { return control->clientCount() == ControlSocket::kMaxClients; }));
    auto extra = client("status");
    EXPECT_TRUE(answer(*extra).value("error").toString().contains(QStringLiteral("too many")));
    EXPECT_EQ(control->clientCount(), ControlSocket::kMaxClients);

    // All but the first read what comes; the first never does (nor does Qt
    // read for it beyond a byte).
    clients[0]->setReadBufferSize(1);
    for (size_t i = 1; i < clients.size(); ++i) {
        QLocalSocket* s = clients[i].get();
        QObject::connect(s, &QLocalSocket::readyRead, s, [s] { s->readAll(); });
    }
    const QString line = QStringLiteral("12/07/2026 10:00:00 - ") + QString(200, u'x');
    QElapsedTimer clock;
    qint64 slowest = 0;
    for (int i = 0; i < 20000 && control->dropped() == 0; ++i) {
        clock.start();
        control->statusLine(line);
        slowest = std::max(slowest, clock.nsecsElapsed());
        if (i % 50 == 0) QCoreApplication::processEvents();
    }
    EXPECT_EQ(control->dropped(), 1);
    EXPECT_EQ(control->clientCount(), ControlSocket::kMaxClients - 1);
    // A broadcast only queues bytes: nothing waits for a client.
    EXPECT_LT(slowest, qint64{50} * 1000 * 1000) << slowest;
}

// The real server while it dials: vtsctl status answers at once and shows
// the port dialling with its kind, batch and start; a page the server has
// in hand cannot be retried or deleted; once sent, the port shows it as its
// last result, the follow stream had it submitted and sent, and the sent
// file can be deleted. Without a server, status says so.
class ServerSocket : public test::MonitorRun {};

TEST_F(ServerSocket, StatusAnswersWithin100msWhileTheServerDials) {
    auto run = [this](const QStringList& args) {
        return test::runProgram(
            test::binDir() + QStringLiteral("/vtsctl"),
            QStringList(args) << QStringLiteral("--socket") << path(ControlSocket::fileName()),
            10000);
    };
    const test::ProgramRun before = run({QStringLiteral("status")});
    EXPECT_EQ(before.code, 1);
    EXPECT_TRUE(before.out.contains(QStringLiteral("not running"))) << before.out.toStdString();

    configstore::open(dir())->execute(
        QStringLiteral("insert into tblModems (ComPort) values ('COM1')"));
    writeFile(QStringLiteral("scenario.txt"), "* slow=300\n");
    startSim({QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--scenario"),
              path(QStringLiteral("scenario.txt"))});
    startServer();
    QDeadlineTimer connected(10000);
    while (!QFileInfo::exists(path(ControlSocket::fileName())) && !connected.hasExpired())
        m_server.waitForReadyRead(50);
    QLocalSocket follower;
    follower.connectToServer(path(ControlSocket::fileName()));
    ASSERT_TRUE(follower.waitForConnected(1000));
    follower.write("follow\n");
    while (!follower.canReadLine() && follower.waitForReadyRead(1000)) {
    }
    ASSERT_TRUE(follower.readLine().contains("following"));
    const QString name =
        page(QStringLiteral("A page that takes a while at 300 bit/s ") + QString(60, u'x'),
             QStringLiteral("1001"), QStringLiteral("5551234"), QStringLiteral("PC"));
    ASSERT_TRUE(waitForOutput(QStringLiteral("Submitted to queue"))) << m_out.toStdString();

    QLocalSocket s;
    s.connectToServer(path(ControlSocket::fileName()));
    ASSERT_TRUE(s.waitForConnected(1000));
    auto status = [&s] {
        s.write("status\n");
        while (!s.canReadLine() && s.waitForReadyRead(1000)) {
        }
        return QJsonDocument::fromJson(s.readLine()).object();
    };
    QJsonObject dialling;
    qint64 slowest = 0;
    QDeadlineTimer dl(30000);
    while (dialling.isEmpty() && !dl.hasExpired()) {
        QElapsedTimer clock;
        clock.start();
        const QJsonObject st = status();
        slowest = std::max(slowest, clock.elapsed());
        for (const auto& p : st.value("ports").toArray())
            if (p.toObject().value("state").toString() == QLatin1String("dialling"))
                dialling = p.toObject();
        m_server.waitForReadyRead(100);
    }
    ASSERT_FALSE(dialling.isEmpty());
    EXPECT_LT(slowest, 100);
    EXPECT_EQ(dialling.value("kind").toString(), QStringLiteral("modem"));
    EXPECT_EQ(dialling.value("batch").toInt(), 1);
    EXPECT_TRUE(QDateTime::fromString(dialling.value("since").toString(), Qt::ISODate).isValid());
    const test::ProgramRun shown = run({QStringLiteral("status")});
    EXPECT_EQ(shown.code, 0) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("port 1 (COM1, modem on ")) &&
                shown.out.contains(QStringLiteral(": dialling, 1 pages since ")))
        << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Submitted to queue")))
        << shown.out.toStdString();
    for (const char* action : {"retry", "delete"}) {
        const test::ProgramRun busy =
            run({QStringLiteral("pending"), QString::fromLatin1(action), name});
        EXPECT_EQ(busy.code, 1) << action;
        EXPECT_TRUE(busy.out.contains(QStringLiteral("is being sent"))) << busy.out.toStdString();
    }
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{name});

    ASSERT_TRUE(waitForOutput(QStringLiteral("Message sucessfully sent"))) << m_out.toStdString();
    const QJsonObject after = status().value("ports").toArray().first().toObject();
    EXPECT_EQ(after.value("state").toString(), QStringLiteral("idle"));
    EXPECT_EQ(after.value("lastResult").toObject().value("status").toString(),
              QStringLiteral("sent"));
    EXPECT_EQ(after.value("lastResult").toObject().value("id").toString(), QStringLiteral("1"));
    const test::ProgramRun removed =
        run({QStringLiteral("pending"), QStringLiteral("delete"), name});
    EXPECT_EQ(removed.code, 0) << removed.out.toStdString();
    EXPECT_TRUE(filesIn(QStringLiteral("SENT")).isEmpty());
    ASSERT_TRUE(waitForOutput(QStringLiteral("Operator: ") + name)) << m_out.toStdString();

    QStringList events;
    while (follower.waitForReadyRead(200) || follower.canReadLine()) {
        while (follower.canReadLine()) {
            const QJsonObject o = QJsonDocument::fromJson(follower.readLine()).object();
            if (o.contains("event"))
                events << o.value("event").toString() + u' ' + o.value("id").toString();
        }
    }
    EXPECT_EQ(events, (QStringList{QStringLiteral("submitted 1"), QStringLiteral("sent 1")}));
    stopServer();
    EXPECT_FALSE(QFileInfo::exists(path(ControlSocket::fileName())));
}

// Under systemd: READY=1 once started, WATCHDOG=1 from the ticks of the
// queue timer (so at least every few seconds while it runs), a STATUS=
// summary, and STOPPING=1 when a stop arrives, before the orderly stop.
TEST_F(ServerSocket, TellsTheServiceManagerReadyAliveAndStopping) {
    const QByteArray where = QFile::encodeName(path(QStringLiteral("notify.sock")));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(where.size(), static_cast<qsizetype>(sizeof addr.sun_path));
    std::memcpy(addr.sun_path, where.constData(), static_cast<size_t>(where.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    QStringList got;
    auto receive = [fd, &got](int ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) got << QString::fromUtf8(buf, static_cast<qsizetype>(n));
        return n > 0;
    };
    QProcessEnvironment env = test::headlessEnv();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(where));
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("4000000"));
    m_server.setWorkingDirectory(dir());
    m_server.setProcessEnvironment(env);
    m_server.start(test::binDir() + QStringLiteral("/vtsmonitor"), QStringList());
    ASSERT_TRUE(m_server.waitForStarted(5000));
    QDeadlineTimer ready(20000);
    while (!got.contains(QStringLiteral("READY=1")) && !ready.hasExpired()) receive(500);
    ASSERT_TRUE(got.contains(QStringLiteral("READY=1"))) << got.join(u'|').toStdString();
    got.clear();
    QDeadlineTimer span(3500);
    while (!span.hasExpired()) receive(static_cast<int>(std::max<qint64>(1, span.remainingTime())));
    EXPECT_GE(got.count(QStringLiteral("WATCHDOG=1")), 2) << got.join(u'|').toStdString();
    ::kill(static_cast<pid_t>(m_server.processId()), SIGTERM);
    QDeadlineTimer stop(5000);
    while (!got.contains(QStringLiteral("STOPPING=1")) && !stop.hasExpired()) receive(500);
    EXPECT_TRUE(got.contains(QStringLiteral("STOPPING=1"))) << got.join(u'|').toStdString();
    ASSERT_TRUE(m_server.waitForFinished(15000));
    EXPECT_EQ(m_server.exitCode(), 0);
    ::close(fd);
}

}  // namespace
}  // namespace vts
