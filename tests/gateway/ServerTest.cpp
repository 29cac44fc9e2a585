// The listeners with real sockets on 127.0.0.1 and virtual time for the
// time-outs: stalled clients, refused addresses, too many connections.
#include "GatewayFixture.h"
#include "GatewayServer.h"
#include "IntakeProtocols.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>

using namespace vts;
using namespace vts::gate;
using namespace vts::gate::test;

namespace {

class GatewayServerTest : public GatewayFixture {
protected:
    void start(const QByteArray& extra = {}) {
        if (!extra.isEmpty()) {
            writeIni(kIni + extra);
        }
        m_server = std::make_unique<GatewayServer>(*m_desk, m_loop);
        QString error;
        ASSERT_TRUE(m_server->listen(m_desk->settings(), &error)) << error.toStdString();
    }
    // Waits in the event loop (blocking, never spinning) until `done`.
    static bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
        QDeadlineTimer dl(ms);
        while (!done() && !dl.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        return done();
    }
    std::unique_ptr<QTcpSocket> connectTo(const char* protocol) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, m_server->port(QString::fromLatin1(protocol)));
        return s;
    }
    static QByteArray readUntil(QTcpSocket& s, const QByteArray& text) {
        QByteArray got;
        waitUntil([&] {
            got += s.readAll();
            return got.contains(text) || s.state() == QAbstractSocket::UnconnectedState;
        });
        return got + s.readAll();
    }
    static bool closedByPeer(QTcpSocket& s) {
        return waitUntil([&] { return s.state() == QAbstractSocket::UnconnectedState; });
    }
    std::unique_ptr<GatewayServer> m_server;
};

// Each intake row reads its own section's listen address and gives its
// connections a session of its own protocol: a row wired to another
// protocol's Listen or session would answer on the wrong port.
TEST_F(GatewayServerTest, EachIntakeRowOwnsItsSectionAndSession) {
    for (const IntakeProtocol& row : intakeProtocols()) {
        QString error;
        const auto c = GatewayConfig::parse(
            QStringLiteral("[smtp]\ndomain = x\n[%1]\nlisten = 127.0.0.1:4000\n")
                .arg(QLatin1String(row.section)),
            &error);
        ASSERT_TRUE(c) << error.toStdString();
        for (const IntakeProtocol& other : intakeProtocols()) {
            EXPECT_EQ((*c.*other.listen).port == 4000, &other == &row) << row.name << other.name;
        }
        EXPECT_TRUE((*c.*row.listen).enabled) << row.name;
        const auto session = row.session(*m_desk, QStringLiteral("127.0.0.1"),
                                         {[](const QByteArray&) { return true; }, [] {}});
        EXPECT_EQ(session->protocol(), QLatin1String(row.name));
    }
}

TEST_F(GatewayServerTest, StalledClientsAreDisconnectedAfterTheIdleTime) {
    start("[limits]\nidle_timeout = 30\nsmtp_idle_timeout = 30\n");
    auto snpp = connectTo("SNPP");
    auto smtp = connectTo("SMTP");
    auto http = connectTo("HTTP");
    EXPECT_TRUE(readUntil(*snpp, "\r\n").startsWith("220"));
    EXPECT_TRUE(readUntil(*smtp, "\r\n").startsWith("220"));
    snpp->write("PAGE BO");
    smtp->write("EHLO x\r\n");
    http->write("POST /api/pages HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n{\"to\"");
    EXPECT_TRUE(readUntil(*smtp, "250 HELP").contains("250 HELP"));
    ASSERT_TRUE(waitUntil([&] { return m_server->connections() == 3; }));
    m_loop.advance(29);
    EXPECT_EQ(m_server->connections(), 3);
    m_loop.advance(2);
    EXPECT_TRUE(readUntil(*snpp, "\r\n").startsWith("421 Timeout"));
    EXPECT_TRUE(readUntil(*smtp, "\r\n").startsWith("421 4.4.2"));
    EXPECT_TRUE(readUntil(*http, "\r\n\r\n").startsWith("HTTP/1.1 408"));
    EXPECT_TRUE(closedByPeer(*snpp));
    EXPECT_TRUE(closedByPeer(*smtp));
    EXPECT_TRUE(closedByPeer(*http));
    EXPECT_TRUE(waitUntil([&] { return m_server->connections() == 0; }));
    EXPECT_TRUE(logged(QStringLiteral("SNPP 127.0.0.1 refused: no command for too long")));
    EXPECT_TRUE(queued().isEmpty());
}

TEST_F(GatewayServerTest, AClientThatKeepsTalkingStillMeetsTheSessionTime) {
    start("[limits]\nidle_timeout = 30\nsession_timeout = 100\n");
    auto snpp = connectTo("SNPP");
    readUntil(*snpp, "\r\n");
    for (int i = 0; i < 4; ++i) {
        snpp->write("HELP\r\n");
        readUntil(*snpp, "250 End");
        m_loop.advance(25);
    }
    EXPECT_TRUE(readUntil(*snpp, "421").contains("421 Timeout"));
    EXPECT_TRUE(closedByPeer(*snpp));
}

TEST_F(GatewayServerTest, AddressesOutsideTheAllowListAreRefused) {
    start("[gateway]\nallow = 10.0.0.0/8\n");
    auto snpp = connectTo("SNPP");
    auto http = connectTo("HTTP");
    EXPECT_TRUE(readUntil(*snpp, "\r\n").startsWith("421 address not allowed"));
    EXPECT_TRUE(readUntil(*http, "\r\n\r\n").startsWith("HTTP/1.1 403"));
    EXPECT_TRUE(closedByPeer(*snpp));
    EXPECT_TRUE(logged(QStringLiteral("refused: address not allowed")));
}

TEST_F(GatewayServerTest, ConnectionsBeyondTheLimitAreRefused) {
    start("[limits]\nmax_connections = 2\n");
    auto a = connectTo("SMTP");
    auto b = connectTo("SNPP");
    readUntil(*a, "\r\n");
    readUntil(*b, "\r\n");
    auto c = connectTo("SMTP");
    EXPECT_TRUE(readUntil(*c, "\r\n").startsWith("421 4.7.0 too many connections"));
    a->write("QUIT\r\n");
    EXPECT_TRUE(closedByPeer(*a));
    ASSERT_TRUE(waitUntil([&] { return m_server->connections() == 1; }));
    auto d = connectTo("SMTP");
    EXPECT_TRUE(readUntil(*d, "\r\n").startsWith("220"));
}

// A listener others can reach without TLS is named at start; TLS without
// a certificate is no setting at all.
TEST_F(GatewayServerTest, PlainListenersBeyondLoopbackAreWarnedOf) {
    writeIni("[snpp]\nlisten = 0.0.0.0:0\n[http]\nlisten = 127.0.0.1:0\n");
    start();
    EXPECT_TRUE(logged(QStringLiteral("SNPP warning: listening beyond loopback without TLS")));
    EXPECT_FALSE(logged(QStringLiteral("HTTP warning")));
    QString error;
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[http]\ntls = on\n"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("[tls] cert"))) << error.toStdString();
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[snpp]\ntls = maybe\n"), &error));
}

// A byte now and then keeps no connection: only complete commands (or a
// complete HTTP request) start the idle time again.
TEST_F(GatewayServerTest, DrippingClientsAreCutOffAtTheIdleTime) {
    start("[limits]\nidle_timeout = 30\n");
    auto snpp = connectTo("SNPP");
    auto http = connectTo("HTTP");
    readUntil(*snpp, "\r\n");
    ASSERT_TRUE(waitUntil([&] { return m_server->connections() == 2; }));
    const QByteArray drip = "POST /api/pages HTTP/1.1\r\n";
    for (int i = 0; i < 3; ++i) {  // bytes at 0, 10 and 20 s; the idle time ends at 30
        const quint64 before = m_server->bytesReceived();
        snpp->write("H");
        http->write(drip.mid(i, 1));
        ASSERT_TRUE(waitUntil([&] { return m_server->bytesReceived() == before + 2; }));
        m_loop.advance(10);
    }
    EXPECT_TRUE(readUntil(*snpp, "421").contains("421 Timeout"));
    EXPECT_TRUE(readUntil(*http, "\r\n\r\n").startsWith("HTTP/1.1 408"));
    EXPECT_TRUE(closedByPeer(*snpp));
    EXPECT_TRUE(closedByPeer(*http));
}

// One address cannot take every slot; when the gateway is full HTTP
// answers 503 with Retry-After.
TEST_F(GatewayServerTest, OneAddressGetsOnlyItsShareOfTheSlots) {
    start("[limits]\nmax_per_address = 2\n");
    auto a = connectTo("SNPP");
    auto b = connectTo("SMTP");
    EXPECT_TRUE(readUntil(*a, "\r\n").startsWith("220"));
    EXPECT_TRUE(readUntil(*b, "\r\n").startsWith("220"));
    auto c = connectTo("SNPP");
    EXPECT_TRUE(readUntil(*c, "\r\n").startsWith("421 too many connections"));
    auto h = connectTo("HTTP");
    const QByteArray busy = readUntil(*h, "\r\n\r\n");
    EXPECT_TRUE(busy.startsWith("HTTP/1.1 503")) << busy.toStdString();
    EXPECT_TRUE(busy.contains("Retry-After:"));
    // Another address still gets in.
    QTcpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    other.connectToHost(QHostAddress::LocalHost, m_server->port(QStringLiteral("SNPP")));
    EXPECT_TRUE(readUntil(other, "\r\n").startsWith("220"));
    EXPECT_TRUE(logged(QStringLiteral("refused: 2 connections already open from 127.0.0.1")));
}

// A client that sends commands but never reads the replies is cut off once
// a bounded backlog of replies waits for it, and its slot is freed.
TEST_F(GatewayServerTest, AClientThatNeverReadsIsDisconnected) {
    start();
    auto snpp = connectTo("SNPP");
    snpp->setReadBufferSize(1024);  // the client's side stops taking bytes
    ASSERT_TRUE(waitUntil([&] { return m_server->connections() == 1; }));
    const QByteArray helps = QByteArray("HELP\r\n").repeated(200000);  // 1.2 MB
    snpp->write(helps);
    EXPECT_TRUE(waitUntil([&] { return m_server->connections() == 0; }, 20000));
    EXPECT_TRUE(logged(QStringLiteral("refused: client does not read its replies")));
    auto next = connectTo("SNPP");
    EXPECT_TRUE(readUntil(*next, "\r\n").startsWith("220"));
}

}  // namespace
