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

}  // namespace
