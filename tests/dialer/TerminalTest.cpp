// The simulated terminal's strictness, driven byte by byte in virtual time.
#include <Tap.h>
#include <TapTerminal.h>

#include <gtest/gtest.h>

namespace vts::sim {
namespace {

using namespace vts::tap;

class PagesimTerminal : public ::testing::Test {
protected:
    void make(Behaviour b = {}) { m_t = std::make_unique<TapTerminal>(b, TapTerminal::Timings{}, 0.0); }
    QByteArray send(const QByteArray& bytes, double now = 0) {
        for (char c : bytes) m_t->receive(c, now);
        return m_t->takeOutput();
    }
    void logOn(const QByteArray& password = {}) {
        ASSERT_EQ(send("\r"), QByteArray("ID="));
        const QByteArray reply = send(QByteArray(1, ESC) + "PG1" + password + "\r");
        ASSERT_TRUE(reply.contains(seq({ACK, CR, ESC, '[', 'p', CR}))) << describe(reply).toStdString();
    }
    static QByteArray block(const QByteArray& withoutChecksum) { return withoutChecksum + checksum(withoutChecksum) + CR; }

    std::unique_ptr<TapTerminal> m_t;
};

TEST_F(PagesimTerminal, SampleSessionIsAccepted) {
    make();
    logOn();
    EXPECT_EQ(send("\x02" "123\rABC\r\x03" "17;\r"), QByteArray("211 Page accepted\r\x06\r"));
    const auto pages = m_t->takePages();
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0].pin, QByteArray("123"));
    EXPECT_EQ(pages[0].text, QByteArray("ABC"));
    EXPECT_EQ(send(seq({EOT, CR})), QByteArray("115 Thank you for calling\x1b\x04\r"));
    EXPECT_TRUE(m_t->finished());
    EXPECT_EQ(m_t->logons(), 1);
}

TEST_F(PagesimTerminal, MultiBlockTransactionIsReassembled) {
    make();
    logOn();
    for (const QByteArray& b : buildBlocks({"1234567", "first line\nsecond line that is long"}, 12))
        send(b);
    const auto pages = m_t->takePages();
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0].text, QByteArray("first line\nsecond line that is long"));
}

TEST_F(PagesimTerminal, DamagedBlocksAreRefused) {
    const struct {
        const char* name;
        QByteArray block;
        char reply;
    } cases[] = {
        {"bad checksum", QByteArray("\x02" "123\rABC\r\x03" "17:\r"), NAK},
        {"three fields", block("\x02" "123\rABC\rDEF\r\x03"), RS},
        {"one field", block("\x02" "123\r\x03"), RS},
        {"ETX without field CR", block("\x02" "123\rABC\x03"), RS},
        {"ETB inside a field", block("\x02" "123\rAB\x17"), RS},
        {"bad pager ID", block("\x02" "12-3\rABC\r\x03"), RS},
        {"broken transparency", block("\x02" "123\rA\x1a!\r\x03"), RS},
        {"too long for the terminal", block("\x02" "123\r" + QByteArray(80, 'x') + "\r\x03"), RS},
    };
    for (const auto& c : cases) {
        Behaviour b;
        b.maxBlock = 60;
        make(b);
        logOn();
        const QByteArray reply = send(c.block);
        ASSERT_GE(reply.size(), 2) << c.name;
        EXPECT_EQ(reply[reply.size() - 2], c.reply) << c.name << ": " << describe(reply).toStdString();
        EXPECT_TRUE(m_t->takePages().isEmpty()) << c.name;
        // The terminal is ready for the next transaction.
        EXPECT_TRUE(send(block("\x02" "123\rok\r\x03")).contains("211")) << c.name;
    }
}

TEST_F(PagesimTerminal, LogOnChecks) {
    Behaviour pw;
    pw.password = QByteArray("ABC123");
    make(pw);
    logOn("ABC123");

    make(pw);
    send("\r");
    EXPECT_TRUE(send("\x1bPG1ABC124\r").endsWith(seq({ESC, EOT, CR})));
    EXPECT_TRUE(m_t->finished());

    make();
    send("\r");
    EXPECT_TRUE(send("\x1bPG3\r").contains(NAK));  // another service: resend
    EXPECT_TRUE(send("M\r").contains(NAK));        // manual mode is not offered
    EXPECT_TRUE(send("\x1bPG5\r").endsWith(seq({ESC, EOT, CR})));
    EXPECT_EQ(m_t->logons(), 0);
}

TEST_F(PagesimTerminal, TimersResendIdThenGiveUp) {
    make();
    send("\r");
    m_t->tick(8.5);
    EXPECT_EQ(m_t->takeOutput(), QByteArray("ID="));
    m_t->tick(17);
    EXPECT_EQ(m_t->takeOutput(), QByteArray("ID="));
    m_t->tick(26);
    EXPECT_TRUE(m_t->takeOutput().endsWith(seq({ESC, EOT, CR})));
    EXPECT_TRUE(m_t->finished());

    make();
    logOn();
    m_t->tick(3.9);
    EXPECT_FALSE(m_t->finished());
    m_t->tick(4.1);
    EXPECT_TRUE(m_t->finished());
}

TEST_F(PagesimTerminal, ScenarioDropAndHold) {
    Behaviour drop;
    drop.dropAfter = 1;
    make(drop);
    logOn();
    send(block("\x02" "1\ra\r\x03"));
    EXPECT_TRUE(send(block("\x02" "1\rb\r\x03")).isEmpty());
    EXPECT_TRUE(m_t->finished());
    EXPECT_TRUE(m_t->dropNow());

    Behaviour hold;
    hold.holdAfter = 0;
    make(hold);
    logOn();
    EXPECT_TRUE(send(block("\x02" "1\ra\r\x03")).isEmpty());
    m_t->tick(100);
    EXPECT_FALSE(m_t->finished());
}

}  // namespace
}  // namespace vts::sim
