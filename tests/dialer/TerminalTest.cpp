// The simulated terminal's strictness, driven byte by byte in virtual time.
#include <Tap.h>
#include <TapTerminal.h>

#include <gtest/gtest.h>

#include "Wire.h"

namespace vts::sim {
namespace {

using test::wire;

using namespace vts::tap;

class PagesimTerminal : public ::testing::Test {
protected:
    void make(const Behaviour& b = {}) {
        m_t = std::make_unique<TapTerminal>(b, TapTerminal::Timings{}, 0.0);
    }
    QByteArray send(const QByteArray& bytes, double now = 0) {
        for (char c : bytes) {
            m_t->receive(c, now);
        }
        return m_t->takeOutput();
    }
    void logOn(const QByteArray& password = {}) {
        ASSERT_EQ(send(wire("<CR>")), QByteArray("ID="));
        const QByteArray reply = send(wire("<ESC>PG1") + password + CR);
        ASSERT_TRUE(reply.contains(seq({ACK, CR, ESC, '[', 'p', CR})))
            << describe(reply).toStdString();
    }
    static QByteArray block(const QByteArray& withoutChecksum) {
        return withoutChecksum + checksum(withoutChecksum) + CR;
    }

    std::unique_ptr<TapTerminal> m_t;
};

TEST_F(PagesimTerminal, SampleSessionIsAccepted) {
    make();
    logOn();
    EXPECT_EQ(send(wire("<STX>123<CR>ABC<CR><ETX>17;<CR>")),
              wire("211 Page accepted<CR><ACK><CR>"));
    const auto pages = m_t->takePages();
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0].pin, QByteArray("123"));
    EXPECT_EQ(pages[0].text, QByteArray("ABC"));
    EXPECT_EQ(send(seq({EOT, CR})), wire("115 Thank you for calling<CR><ESC><EOT><CR>"));
    EXPECT_TRUE(m_t->finished());
    EXPECT_EQ(m_t->logons(), 1);
}

TEST_F(PagesimTerminal, MultiBlockTransactionIsReassembled) {
    make();
    logOn();
    for (const QByteArray& b :
         buildBlocks({"1234567", "first line\nsecond line that is long"}, 12)) {
        send(b);
    }
    const auto pages = m_t->takePages();
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages[0].text, wire("first line<LF>second line that is long"));
}

TEST_F(PagesimTerminal, DamagedBlocksAreRefused) {
    const struct {
        const char* name;
        QByteArray block;
        char reply;
    } cases[] = {
        {"bad checksum", wire("<STX>123<CR>ABC<CR><ETX>17:<CR>"), NAK},
        {"three fields", block(wire("<STX>123<CR>ABC<CR>DEF<CR><ETX>")), RS},
        {"one field", block(wire("<STX>123<CR><ETX>")), RS},
        {"ETX without field CR", block(wire("<STX>123<CR>ABC<ETX>")), RS},
        {"ETB inside a field", block(wire("<STX>123<CR>AB<ETB>")), RS},
        {"bad pager ID", block(wire("<STX>12-3<CR>ABC<CR><ETX>")), RS},
        {"broken transparency", block(wire("<STX>123<CR>A<SUB>!<CR><ETX>")), RS},
        {"too long for the terminal",
         block(wire("<STX>123<CR>") + QByteArray(80, 'x') + wire("<CR><ETX>")), RS},
    };
    for (const auto& c : cases) {
        Behaviour b;
        b.maxBlock = 60;
        make(b);
        logOn();
        const QByteArray reply = send(c.block);
        ASSERT_GE(reply.size(), 2) << c.name;
        EXPECT_EQ(reply[reply.size() - 2], c.reply)
            << c.name << ": " << describe(reply).toStdString();
        EXPECT_TRUE(m_t->takePages().isEmpty()) << c.name;
        // The terminal is ready for the next transaction.
        EXPECT_TRUE(send(block(wire("<STX>123<CR>ok<CR><ETX>"))).contains("211")) << c.name;
    }
}

TEST_F(PagesimTerminal, LogOnChecks) {
    Behaviour pw;
    pw.password = QByteArray("ABC123");
    make(pw);
    logOn("ABC123");

    make(pw);
    send(wire("<CR>"));
    EXPECT_TRUE(send(wire("<ESC>PG1ABC124<CR>")).endsWith(seq({ESC, EOT, CR})));
    EXPECT_TRUE(m_t->finished());

    make();
    send(wire("<CR>"));
    EXPECT_EQ(send(wire("<ESC>PG3<CR>")),  // another service: resend
              wire("508 Service not supported<CR><NAK><CR>"));
    EXPECT_TRUE(send(wire("M<CR>")).contains(NAK));  // manual mode is not offered
    EXPECT_TRUE(send(wire("<ESC>PG5<CR>")).endsWith(seq({ESC, EOT, CR})));
    EXPECT_EQ(m_t->logons(), 0);
}

// What a TAP 1.8 terminal refuses, and what the simulator records for it.
TEST_F(PagesimTerminal, ProtocolViolationsAreRefusedAndRecorded) {
    const struct {
        const char* name;
        QByteArray bytes;  // sent after the log-on
        QByteArray replyEnd;
        bool callEnds;
    } cases[] = {
        {"raw LF in a field", block(wire("<STX>123<CR>A<LF>B<CR><ETX>")), wire("<RS><CR>"), false},
        {"raw ESC in a field", block(wire("<STX>123<CR>A<ESC>B<CR><ETX>")), wire("<RS><CR>"),
         false},
        {"8-bit byte in a field", block(wire("<STX>123<CR>Caf<0xe9><CR><ETX>")), wire("<RS><CR>"),
         false},
        {"second log-on before a block", wire("<ESC>PG1<CR>"), wire("<CR><ESC><EOT><CR>"), true},
        {"text before a block", wire("hello"), wire("<CR><ESC><EOT><CR>"), true},
        {"EOT without its CR", wire("<EOT>x"), wire("<CR><ESC><EOT><CR>"), true},
    };
    for (const auto& c : cases) {
        make();
        logOn();
        const QByteArray reply = send(c.bytes);
        EXPECT_TRUE(reply.endsWith(c.replyEnd)) << c.name << ": " << describe(reply).toStdString();
        EXPECT_EQ(m_t->finished(), c.callEnds) << c.name;
        EXPECT_EQ(m_t->violations().size(), 1) << c.name;
        EXPECT_TRUE(m_t->takePages().isEmpty()) << c.name;
    }

    // Only a bare CR is a probe.
    make();
    EXPECT_TRUE(send(wire("AT<CR>")).isEmpty());
    EXPECT_EQ(m_t->violations().size(), 1);
    EXPECT_EQ(send(wire("<CR>")), QByteArray("ID="));

    // Reserved and three-field device types, and 8-bit log-ons.
    for (const char* logon : {"<ESC>PG7<CR>", "<ESC>PG3<CR>"}) {
        make();
        send(wire("<CR>"));
        EXPECT_TRUE(send(wire(logon)).startsWith("508 ")) << logon;
    }
    make();
    send(wire("<CR>"));
    EXPECT_TRUE(send(wire("<ESC>PG1<0xc1><CR>")).startsWith("507 "));
}

TEST_F(PagesimTerminal, ContinuedBlockIsAcknowledgedWithAMessage) {
    make();
    logOn();
    const QList<QByteArray> blocks = buildBlocks({"1234567", QByteArray(30, 'x')}, 12);
    ASSERT_GT(blocks.size(), 2);
    const QByteArray reply = send(blocks[0]);
    EXPECT_TRUE(reply.startsWith("111 ")) << describe(reply).toStdString();
    EXPECT_TRUE(reply.endsWith(wire("<CR><ACK><CR>")));
    EXPECT_TRUE(m_t->violations().isEmpty());
}

TEST_F(PagesimTerminal, TimersResendIdThenGiveUp) {
    make();
    send(wire("<CR>"));
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
    send(block(wire("<STX>1<CR>a<CR><ETX>")));
    EXPECT_TRUE(send(block(wire("<STX>1<CR>b<CR><ETX>"))).isEmpty());
    EXPECT_TRUE(m_t->finished());
    EXPECT_TRUE(m_t->dropNow());

    Behaviour hold;
    hold.holdAfter = 0;
    make(hold);
    logOn();
    EXPECT_TRUE(send(block(wire("<STX>1<CR>a<CR><ETX>"))).isEmpty());
    m_t->tick(100);
    EXPECT_FALSE(m_t->finished());
}

}  // namespace
}  // namespace vts::sim
