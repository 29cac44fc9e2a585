// The control socket: in-process for its bounds (16 clients, a client that
// does not read is dropped, a broadcast never waits), and against the real
// headless server and pagesim for status while a call runs, follow and
// reload, through vtsctl.
#include "ControlSocket.h"

#include <MonitorRun.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

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
// the port dialling; follow shows the status lines; without a server,
// status says so.
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
    page(QStringLiteral("A page that takes a while at 300 bit/s ") + QString(60, u'x'),
         QStringLiteral("1001"), QStringLiteral("5551234"), QStringLiteral("PC"));
    startServer();
    ASSERT_TRUE(waitForOutput(QStringLiteral("Submitted to queue"))) << m_out.toStdString();

    QLocalSocket s;
    QDeadlineTimer connected(5000);
    while (!QFileInfo::exists(path(ControlSocket::fileName())) && !connected.hasExpired())
        m_server.waitForReadyRead(50);
    s.connectToServer(path(ControlSocket::fileName()));
    ASSERT_TRUE(s.waitForConnected(1000));
    bool sawDialling = false;
    qint64 slowest = 0;
    QDeadlineTimer dl(30000);
    while (!sawDialling && !dl.hasExpired()) {
        QElapsedTimer clock;
        clock.start();
        s.write("status\n");
        while (!s.canReadLine() && s.waitForReadyRead(1000)) {
        }
        slowest = std::max(slowest, clock.elapsed());
        const QJsonObject st = QJsonDocument::fromJson(s.readLine()).object();
        for (const auto& p : st.value("ports").toArray())
            if (p.toObject().value("state").toString() == QLatin1String("dialling"))
                sawDialling = true;
        m_server.waitForReadyRead(100);
    }
    EXPECT_TRUE(sawDialling);
    EXPECT_LT(slowest, 100);
    const test::ProgramRun shown = run({QStringLiteral("status")});
    EXPECT_EQ(shown.code, 0) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("port 1 (COM1): dialling")))
        << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Submitted to queue")))
        << shown.out.toStdString();
    stopServer();
    EXPECT_FALSE(QFileInfo::exists(path(ControlSocket::fileName())));
}

}  // namespace
}  // namespace vts
