// The modem driver's reading of replies and its hang-up paths.
#include "ScriptedLine.h"
#include "Wire.h"

#include <HayesModem.h>
#include <TraceLog.h>

#include <gtest/gtest.h>

namespace vts {
namespace {

using test::ScriptedLine;
using test::wire;
using R = HayesModem::Result;

struct DialerModem : ::testing::Test {
    ScriptedLine line;
    TraceLog trace;
    Channel channel{line, trace};
    HayesModem modem{channel};
};

TEST_F(DialerModem, FinalResultsBehindEchoesAndReports) {
    const struct {
        const char* name;
        const char* reply;
        R result;
    } cases[] = {
        {"echo then OK", "ATZ<CR><CR><LF>OK<CR><LF>", R::Ok},
        {"numeric result", "0<CR>", R::Ok},
        {"ring and carrier reports skipped",
         "<CR><LF>RING<CR><LF><CR><LF>CARRIER 1200<CR><LF><CR><LF>CONNECT 1200/REL<CR><LF>",
         R::Connect},
        {"busy", "<CR><LF>BUSY<CR><LF>", R::Busy},
        {"numeric no dial tone", "6<CR>", R::NoDialtone},
        {"unknown lines only", "<CR><LF>HELLO<CR><LF>", R::Timeout},
        {"nothing", "", R::Timeout},
    };
    for (const auto& c : cases) {
        line.respond = [&](const QByteArray&) { return wire(c.reply); };
        EXPECT_EQ(modem.command("ATZ", 1), c.result) << c.name;
    }
    line.respond = [](const QByteArray&) { return wire("<CR><LF>CONNECT 2400<CR><LF>ID="); };
    EXPECT_EQ(modem.command("ATDT5551234", 1), R::Connect);
    EXPECT_EQ(modem.connectLine(), QByteArray("CONNECT 2400"));
    EXPECT_EQ(channel.buffer(), QByteArray("\nID="));  // left for the protocol
}

TEST_F(DialerModem, HangUpWithoutDtrEscapesFirst) {
    line.respond = [](const QByteArray& w) {
        return wire(w == "+++" || w == "ATH0\r" ? "<CR><LF>OK<CR><LF>" : "");
    };
    EXPECT_TRUE(modem.hangUp(false, 0, 1));
    EXPECT_EQ(line.written, (QList<QByteArray>{"+++", "ATH0\r"}));

    line.written.clear();
    EXPECT_TRUE(modem.hangUp(true, 0, 1));
    EXPECT_EQ(line.written, QList<QByteArray>{"ATH0\r"});

    line.written.clear();
    channel.buffer() = wire("<CR><LF>NO CARRIER<CR><LF>");
    EXPECT_TRUE(modem.hangUp(false, 0, 1));
    EXPECT_EQ(line.written, QList<QByteArray>{"ATH0\r"});
}

}  // namespace
}  // namespace vts
