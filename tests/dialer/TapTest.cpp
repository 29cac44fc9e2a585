// Checksums, transparency, block splitting and transliteration.
#include <Tap.h>

#include <gtest/gtest.h>

namespace vts::tap {
namespace {

QByteArray b(const char* s) { return QByteArray(s); }

struct ChecksumCase {
    const char* name;
    QByteArray bytes;
    const char* expected;
};

TEST(TapChecksum, KnownVectors) {
    const QByteArray big = b("\x02") + QByteArray(7, '1') + b("\r") + QByteArray(241, '~') + b("\r\x03");
    const ChecksumCase cases[] = {
        {"worked example", b("\x02" "123\rABC\r\x03"), "17;"},
        {"hello world", b("\x02" "5551234\rHello World\r\x03"), "5:4"},
        {"field continued (US)", b("\x02" "1234567\rABCDEFGHIJ\x1f"), "451"},
        {"continuation block", b("\x02KLMNO\r\x03"), "193"},
        {"field complete (ETB)", b("\x02" "1234567\r\x17"), "192"},
        {"after ETB", b("\x02Hello\r\x03"), "206"},
        {"transparency pair", b("\x02" "1234567\rA\x1aJB\r\x03"), "272"},
        {"12-bit mask on a 256-byte block", big, "814"},
        {"high bit ignored", b("\x02" "123\r\xc1\xc2\xc3\r\x03"), "17;"},
    };
    for (const auto& c : cases) EXPECT_EQ(checksum(c.bytes), b(c.expected)) << c.name;
}

TEST(TapBlocks, WorkedExampleIsOneBlock) {
    EXPECT_EQ(buildBlocks({b("123"), b("ABC")}, 0), QList<QByteArray>{b("\x02" "123\rABC\r\x03" "17;\r")});
}

struct SplitCase {
    const char* name;
    QList<QByteArray> fields;
    int maxChars;
    QList<QByteArray> blocks;  // without checksum and final CR
};

TEST(TapBlocks, Splitting) {
    const SplitCase cases[] = {
        {"field cut goes on after US", {b("1234567"), b("ABCDEFGHIJKLMNO")}, 18,
         {b("\x02" "1234567\rABCDEFGHIJ\x1f"), b("\x02KLMNO\r\x03")}},
        {"block ending on a field boundary uses ETB", {b("1234567"), b("Hello")}, 8,
         {b("\x02" "1234567\r\x17"), b("\x02Hello\r\x03")}},
        {"transparency pair is never cut", {b("12"), b("ab\ncd")}, 5,
         {b("\x02" "12\rab\x1f"), b("\x02\x1aJcd\r\x03")}},
        {"empty message field still ends in CR", {b("123"), b("")}, 0, {b("\x02" "123\r\r\x03")}},
        {"field CR alone in the next block", {b("1234"), b("xy")}, 4,
         {b("\x02" "1234\x1f"), b("\x02\rxy\r\x03")}},
        {"limit below 2 is raised to 2", {b("12"), b("a")}, 1,
         {b("\x02" "12\x1f"), b("\x02\ra\x1f"), b("\x02\r\x03")}},
    };
    for (const auto& c : cases) {
        const QList<QByteArray> got = buildBlocks(c.fields, c.maxChars);
        ASSERT_EQ(got.size(), c.blocks.size()) << c.name;
        for (int i = 0; i < got.size(); ++i) {
            const QByteArray expected = c.blocks[i] + checksum(c.blocks[i]) + '\r';
            EXPECT_EQ(got[i], expected) << c.name << " block " << i;
        }
    }
}

TEST(TapBlocks, EveryBlockStaysWithinTheLimitAndReassembles) {
    QByteArray text;
    for (int i = 0; i < 700; ++i) text.append(i % 37 == 0 ? '\n' : static_cast<char>('a' + i % 26));
    for (int limit : {0, 2, 3, 17, 100, 250, 400}) {
        const QList<QByteArray> blocks = buildBlocks({b("5551234"), text}, limit);
        QByteArray joined;
        for (const QByteArray& blk : blocks) {
            const ParsedBlock p = parseBlock(blk);
            ASSERT_EQ(p.error, ParsedBlock::Error::None) << limit;
            EXPECT_LE(p.infoChars, effectiveBlockChars(limit));
            EXPECT_LE(blk.size(), 256);
            joined += *unescape(p.content);
        }
        EXPECT_EQ(joined, b("5551234\r") + text + '\r') << limit;
        EXPECT_EQ(blocks.last().at(blocks.last().size() - 5), ETX);
    }
}

TEST(TapBlocks, ParseReportsDamage) {
    const QByteArray good = b("\x02" "123\rABC\r\x03" "17;\r");
    EXPECT_EQ(parseBlock(good).error, ParsedBlock::Error::None);
    EXPECT_EQ(parseBlock(good).terminator, ETX);
    EXPECT_EQ(parseBlock(b("\x02" "123\rABC\r\x03" "17:\r")).error, ParsedBlock::Error::BadChecksum);
    EXPECT_EQ(parseBlock(b("123\rABC\r\x03" "17;\r")).error, ParsedBlock::Error::NoStx);
    EXPECT_EQ(parseBlock(b("\x02" "123\rABC\r\x03" "17;")).error, ParsedBlock::Error::NoTerminator);
    EXPECT_EQ(parseBlock(good, 7).error, ParsedBlock::Error::TooLong);
    const QByteArray cutPair = b("\x02" "12\x1a\x1f");
    EXPECT_EQ(parseBlock(cutPair + checksum(cutPair) + '\r').error, ParsedBlock::Error::BadTransparency);
    EXPECT_FALSE(unescape(b("a\x1a")).has_value());
    EXPECT_FALSE(unescape(b("a\x1a!")).has_value());
    EXPECT_EQ(*unescape(b("a\x1a@\x1a_")), QByteArray("a\0\x1f", 3));
}

TEST(TapText, Transliteration) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain ASCII stays", "plain ASCII stays"},
        {"caf\u00e9 na\u00efve \u00c5ngstr\u00f6m", "cafe naive Angstrom"},
        {"Stra\u00dfe \u00c6gir \u0153uvre \u00d8resund", "Strasse AEgir oeuvre Oresund"},
        {"\u201equoted\u201c \u2018single\u2019 \u00abangle\u00bb", "\"quoted\" 'single' <<angle>>"},
        {"dash \u2013 em \u2014 dots\u2026", "dash - em - dots..."},
        {"\u20ac10 \u00a35 \u00a9 \u2122 \u00bd", "EUR10 GBP5 (C) TM 1/2"},
        {"\ufb01ne \u00b2", "fine 2"},
        {"\u4e2d\u6587 \U0001F600", "?? ?"},
        {"tab\tand\nbreak", "tab\tand\nbreak"},
    };
    for (const auto& c : cases) EXPECT_EQ(transliterate(QString::fromUtf8(c.in)), b(c.out)) << c.in;
}

TEST(TapText, DescribeNamesControlBytes) {
    EXPECT_EQ(describe(b("\x02" "12\r\x03" "17;\r\x1b[p\x06\xff")),
              QStringLiteral("<STX>12<CR><ETX>17;<CR><ESC>[p<ACK><0xff>"));
}

}  // namespace
}  // namespace vts::tap
