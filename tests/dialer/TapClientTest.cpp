// The protocol client's retries and give-ups against a scripted terminal.
// The scripted line answers every write at once and reports silence as an
// immediate time-out, so no test waits for a real deadline.
#include "ScriptedLine.h"
#include "Wire.h"

#include <Line.h>
#include <Tap.h>
#include <TapClient.h>
#include <TraceLog.h>

#include <gtest/gtest.h>

namespace vts {
namespace {

using test::ScriptedLine;
using test::wire;
using namespace tap;

const QByteArray kLogOnOk = wire("110 1.8<CR><ACK><CR><ESC>[p<CR>");
const QByteArray kPageOk = wire("211 Page accepted<CR><ACK><CR>");

class TapClientTest : public ::testing::Test {
protected:
    TapClient::LogOnResult logOn() { return m_client.logOn({}); }
    // A terminal that accepts the log-on and answers blocks with `blockReply(n)`.
    void terminal(const std::function<QByteArray(int)>& blockReply) {
        m_line.respond = [this, blockReply](const QByteArray& w) -> QByteArray {
            if (w == wire("<CR>")) {
                return "ID=";
            }
            if (w.startsWith(ESC)) {
                return kLogOnOk;
            }
            if (w.startsWith(STX)) {
                return blockReply(++m_blocks);
            }
            if (w == seq({EOT, CR})) {
                return wire("115 Bye<CR><ESC><EOT><CR>");
            }
            return {};
        };
    }
    QList<QByteArray> page(const char* text) { return buildBlocks({"123", text}, 0); }

    ScriptedLine m_line;
    TraceLog m_trace;
    Channel m_channel{m_line, m_trace};
    TapClient m_client{m_channel, TapTimings{}};
    int m_blocks = 0;
};

TEST_F(TapClientTest, ProbesUntilIdThenLogsOn) {
    int probes = 0;
    m_line.respond = [&](const QByteArray& w) -> QByteArray {
        if (w == wire("<CR>")) {
            return ++probes == 3 ? wire("Welcome<CR>ID=") : QByteArray();
        }
        return w.startsWith(ESC) ? kLogOnOk : QByteArray();
    };
    EXPECT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(m_line.count(wire("<CR>")), 3);
    EXPECT_TRUE(m_client.callUp());
}

TEST_F(TapClientTest, NoIdAfterTheProbesFailsTheCall) {
    EXPECT_EQ(logOn(), TapClient::LogOnResult::Failed);
    EXPECT_EQ(m_line.count(wire("<CR>")), 3);
    EXPECT_FALSE(m_client.callUp());
    EXPECT_EQ(m_client.sendPage(page("x")), TapClient::PageResult::NotSent);
}

TEST_F(TapClientTest, LogOnRepliesDecideTheCall) {
    const struct {
        const char* name;
        QList<QByteArray> replies;  // one per log-on sent
        TapClient::LogOnResult result;
        int logOns;
    } cases[] = {
        {"NAK, then accepted",
         {wire("<CR><NAK><CR>"), kLogOnOk},
         TapClient::LogOnResult::Accepted,
         2},
        {"ID= again, then accepted", {"ID=", kLogOnOk}, TapClient::LogOnResult::Accepted, 2},
        {"go-ahead without ACK", {wire("<ESC>[p<CR>")}, TapClient::LogOnResult::Accepted, 1},
        {"forced disconnect",
         {wire("509 Bad password<CR><ESC><EOT><CR>")},
         TapClient::LogOnResult::Rejected,
         1},
        {"three NAKs",
         {wire("<NAK><CR>"), wire("<NAK><CR>"), wire("<NAK><CR>")},
         TapClient::LogOnResult::Rejected,
         3},
        {"silence", {}, TapClient::LogOnResult::Rejected, 3},
        {"ACK but no go-ahead", {wire("<CR><ACK><CR>")}, TapClient::LogOnResult::Failed, 1},
    };
    for (const auto& c : cases) {
        ScriptedLine line;
        TraceLog trace;
        Channel channel(line, trace);
        TapClient client(channel, TapTimings{});
        int sent = 0;
        line.respond = [&](const QByteArray& w) -> QByteArray {
            if (w == wire("<CR>")) {
                return "ID=";
            }
            if (!w.startsWith(ESC)) {
                return {};
            }
            return sent < c.replies.size() ? c.replies[sent++] : QByteArray();
        };
        EXPECT_EQ(client.logOn("PW1234"), c.result) << c.name;
        EXPECT_EQ(line.count(wire("<ESC>PG1PW1234<CR>")), c.logOns) << c.name;
    }
}

TEST_F(TapClientTest, NakedBlockIsResentUpToTheLimit) {
    terminal([](int n) { return n <= 3 ? wire("514 Checksum error<CR><NAK><CR>") : kPageOk; });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(m_client.sendPage(page("hello")), TapClient::PageResult::Accepted);
    EXPECT_EQ(m_blocks, 4);

    m_blocks = 0;
    terminal([](int) { return wire("<CR><NAK><CR>"); });
    EXPECT_EQ(m_client.sendPage(page("again")), TapClient::PageResult::NotSent);
    EXPECT_EQ(m_blocks, 4);
    EXPECT_FALSE(m_client.callUp());
}

TEST_F(TapClientTest, SilentTerminalGetsTheBlockResentThenTheCallEnds) {
    terminal([](int n) { return n == 3 ? kPageOk : QByteArray(); });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(m_client.sendPage(page("late")), TapClient::PageResult::Accepted);
    m_blocks = 0;
    terminal([](int) { return QByteArray(); });
    EXPECT_EQ(m_client.sendPage(page("never")), TapClient::PageResult::NotSent);
    EXPECT_EQ(m_blocks, 4);  // first send and three resends
    EXPECT_FALSE(m_client.callUp());
}

TEST_F(TapClientTest, RejectedPageLeavesTheCallUp) {
    terminal([](int n) { return n == 1 ? wire("511 No such subscriber<CR><RS><CR>") : kPageOk; });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(m_client.sendPage(page("one")), TapClient::PageResult::Rejected);
    EXPECT_TRUE(m_client.reason().contains(QStringLiteral("511")));
    EXPECT_EQ(m_client.sendPage(page("two")), TapClient::PageResult::Accepted);
    m_client.logOff();
    EXPECT_FALSE(m_client.callUp());
    EXPECT_EQ(m_line.count(seq({EOT, CR})), 1);
}

TEST_F(TapClientTest, MultiBlockPageStopsAtTheFirstRefusal) {
    terminal([](int n) { return n == 2 ? wire("<CR><RS><CR>") : wire("<CR><ACK><CR>"); });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    const QList<QByteArray> blocks = buildBlocks({"123", QByteArray(40, 'x')}, 10);
    ASSERT_GT(blocks.size(), 3);
    EXPECT_EQ(m_client.sendPage(blocks), TapClient::PageResult::Rejected);
    EXPECT_EQ(m_blocks, 2);
}

TEST_F(TapClientTest, LostCarrierAndTerminalDisconnectEndTheCall) {
    terminal([](int) { return wire("<CR><LF>NO CARRIER<CR><LF>"); });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(m_client.sendPage(page("one")), TapClient::PageResult::NotSent);
    EXPECT_TRUE(m_client.carrierLost());
    EXPECT_FALSE(m_client.callUp());

    ScriptedLine line;
    TraceLog trace;
    Channel channel(line, trace);
    TapClient client(channel, TapTimings{});
    line.respond = [](const QByteArray& w) -> QByteArray {
        if (w == wire("<CR>")) {
            return "ID=";
        }
        if (w.startsWith(ESC)) {
            return kLogOnOk;
        }
        return wire("501 Time out<CR><ESC><EOT><CR>");
    };
    ASSERT_EQ(client.logOn({}), TapClient::LogOnResult::Accepted);
    EXPECT_EQ(client.sendPage(page("one")), TapClient::PageResult::NotSent);
    EXPECT_FALSE(client.carrierLost());
    EXPECT_FALSE(client.callUp());
}

TEST_F(TapClientTest, WithdrawalAfterLogOffIsReported) {
    terminal([](int) { return kPageOk; });
    ASSERT_EQ(logOn(), TapClient::LogOnResult::Accepted);
    ASSERT_EQ(m_client.sendPage(page("one")), TapClient::PageResult::Accepted);
    m_line.respond = [](const QByteArray&) { return wire("115 Bye<CR><RS><CR><ESC><EOT><CR>"); };
    m_client.logOff();
    EXPECT_FALSE(m_client.callUp());
    EXPECT_TRUE(m_client.withdrawn());
    EXPECT_EQ(m_client.reason(), QStringLiteral("logged off"));

    TapClient plain(m_channel, TapTimings{});
    terminal([](int) { return kPageOk; });
    ASSERT_EQ(plain.logOn({}), TapClient::LogOnResult::Accepted);
    plain.logOff();
    EXPECT_FALSE(plain.withdrawn());
}

// A second "ID=" (an answer to an earlier probe, or an unprompted one) must
// not bring a second log-on, which the terminal would read as junk.
TEST_F(TapClientTest, RepeatedIdPromptIsIgnored) {
    const struct {
        const char* name;
        const char* probeReply;
        const char* logOnReply;
    } cases[] = {
        {"two prompts at once", "ID=ID=", "110 1.8<CR><ACK><CR><ESC>[p<CR>"},
        {"prompt again just before the ACK", "ID=", "ID=<CR><ACK><CR><ESC>[p<CR>"},
        {"prompt again after the go-ahead", "ID=", "<CR><ACK><CR><ESC>[p<CR>ID=<CR><ACK><CR>"},
    };
    for (const auto& c : cases) {
        ScriptedLine line;
        TraceLog trace;
        Channel channel(line, trace);
        TapClient client(channel, TapTimings{});
        line.respond = [&](const QByteArray& w) -> QByteArray {
            if (w == wire("<CR>")) {
                return wire(c.probeReply);
            }
            if (w.startsWith(ESC)) {
                return wire(c.logOnReply);
            }
            return w.startsWith(STX) ? kPageOk : QByteArray();
        };
        EXPECT_EQ(client.logOn({}), TapClient::LogOnResult::Accepted) << c.name;
        EXPECT_EQ(line.count(wire("<ESC>PG1<CR>")), 1) << c.name;
        // The stale ACK after the go-ahead is not taken as the block's reply.
        int blocksBefore = static_cast<int>(line.written.size());
        EXPECT_EQ(client.sendPage(page("x")), TapClient::PageResult::Accepted) << c.name;
        EXPECT_EQ(line.written.size(), blocksBefore + 1) << c.name;
        EXPECT_TRUE(line.written.last().startsWith(STX)) << c.name;
    }
}

}  // namespace
}  // namespace vts
