// Checksums, transparency, block splitting and transliteration.
#include "Wire.h"

#include <Tap.h>

#include <gtest/gtest.h>

namespace vts::tap {
namespace {

using test::wire;

struct ChecksumCase {
    const char* name;
    QByteArray bytes;
    const char* expected;
};

TEST(TapChecksum, KnownVectors) {
    const QByteArray big = wire("<STX>") + QByteArray(7, '1') + wire("<CR>") +
                           QByteArray(241, '~') + wire("<CR><ETX>");
    const ChecksumCase cases[] = {
        {"worked example", wire("<STX>123<CR>ABC<CR><ETX>"), "17;"},
        {"hello world", wire("<STX>5551234<CR>Hello World<CR><ETX>"), "5:4"},
        {"field continued (US)", wire("<STX>1234567<CR>ABCDEFGHIJ<US>"), "451"},
        {"continuation block", wire("<STX>KLMNO<CR><ETX>"), "193"},
        {"field complete (ETB)", wire("<STX>1234567<CR><ETB>"), "192"},
        {"after ETB", wire("<STX>Hello<CR><ETX>"), "206"},
        {"transparency pair", wire("<STX>1234567<CR>A<SUB>JB<CR><ETX>"), "272"},
        {"12-bit mask on a 256-byte block", big, "814"},
        {"high bit ignored", wire("<STX>123<CR><0xc1><0xc2><0xc3><CR><ETX>"), "17;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checksum(c.bytes), QByteArray(c.expected)) << c.name;
    }
}

TEST(TapBlocks, WorkedExampleIsOneBlock) {
    EXPECT_EQ(buildBlocks({wire("123"), wire("ABC")}, 0),
              QList<QByteArray>{wire("<STX>123<CR>ABC<CR><ETX>17;<CR>")});
}

struct SplitCase {
    const char* name;
    QList<QByteArray> fields;
    int maxChars;
    QList<QByteArray> blocks;  // without checksum and final CR
};

TEST(TapBlocks, Splitting) {
    const SplitCase cases[] = {
        {"field cut goes on after US",
         {wire("1234567"), wire("ABCDEFGHIJKLMNO")},
         18,
         {wire("<STX>1234567<CR>ABCDEFGHIJ<US>"), wire("<STX>KLMNO<CR><ETX>")}},
        {"block ending on a field boundary uses ETB",
         {wire("1234567"), wire("Hello")},
         8,
         {wire("<STX>1234567<CR><ETB>"), wire("<STX>Hello<CR><ETX>")}},
        {"transparency pair is never cut",
         {wire("12"), wire("ab<LF>cd")},
         5,
         {wire("<STX>12<CR>ab<US>"), wire("<STX><SUB>Jcd<CR><ETX>")}},
        {"empty message field still ends in CR",
         {wire("123"), wire("")},
         0,
         {wire("<STX>123<CR><CR><ETX>")}},
        {"field CR alone in the next block",
         {wire("1234"), wire("xy")},
         4,
         {wire("<STX>1234<US>"), wire("<STX><CR>xy<CR><ETX>")}},
        {"limit below 2 is raised to 2",
         {wire("12"), wire("a")},
         1,
         {wire("<STX>12<US>"), wire("<STX><CR>a<US>"), wire("<STX><CR><ETX>")}},
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
    for (int i = 0; i < 700; ++i) {
        text.append(i % 37 == 0 ? '\n' : static_cast<char>('a' + i % 26));
    }
    for (int limit : {0, 2, 3, 17, 100, 250, 400}) {
        const QList<QByteArray> blocks = buildBlocks({wire("5551234"), text}, limit);
        QByteArray joined;
        for (const QByteArray& blk : blocks) {
            const ParsedBlock p = parseBlock(blk);
            ASSERT_EQ(p.error, ParsedBlock::Error::None) << limit;
            EXPECT_LE(p.infoChars, effectiveBlockChars(limit));
            EXPECT_LE(blk.size(), 256);
            joined += *unescape(p.content);
        }
        EXPECT_EQ(joined, wire("5551234<CR>") + text + '\r') << limit;
        EXPECT_EQ(blocks.last().at(blocks.last().size() - 5), ETX);
    }
}

TEST(TapBlocks, ParseReportsDamage) {
    const QByteArray good = wire("<STX>123<CR>ABC<CR><ETX>17;<CR>");
    EXPECT_EQ(parseBlock(good).error, ParsedBlock::Error::None);
    EXPECT_EQ(parseBlock(good).terminator, ETX);
    EXPECT_EQ(parseBlock(wire("<STX>123<CR>ABC<CR><ETX>17:<CR>")).error,
              ParsedBlock::Error::BadChecksum);
    EXPECT_EQ(parseBlock(wire("123<CR>ABC<CR><ETX>17;<CR>")).error, ParsedBlock::Error::NoStx);
    EXPECT_EQ(parseBlock(wire("<STX>123<CR>ABC<CR><ETX>17;")).error,
              ParsedBlock::Error::NoTerminator);
    EXPECT_EQ(parseBlock(good, 7).error, ParsedBlock::Error::TooLong);
    const QByteArray cutPair = wire("<STX>12<SUB><US>");
    EXPECT_EQ(parseBlock(cutPair + checksum(cutPair) + '\r').error,
              ParsedBlock::Error::BadTransparency);
    EXPECT_FALSE(unescape(wire("a<SUB>")).has_value());
    EXPECT_FALSE(unescape(wire("a<SUB>!")).has_value());
    EXPECT_EQ(*unescape(wire("a<SUB>@<SUB>_")), QByteArray("a\0\x1f", 3));
}

TEST(TapText, Transliteration) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain ASCII stays", "plain ASCII stays"},
        {"caf\u00e9 na\u00efve \u00c5ngstr\u00f6m", "cafe naive Angstrom"},
        {"Stra\u00dfe \u00c6gir \u0153uvre \u00d8resund", "Strasse AEgir oeuvre Oresund"},
        {"\u201equoted\u201c \u2018single\u2019 \u00abangle\u00bb",
         "\"quoted\" 'single' <<angle>>"},
        {"dash \u2013 em \u2014 dots\u2026", "dash - em - dots..."},
        {"\u20ac10 \u00a35 \u00a9 \u2122 \u00bd", "EUR10 GBP5 (C) TM 1/2"},
        {"\ufb01ne \u00b2", "fine 2"},
        {"\u4e2d\u6587 \U0001F600", "?? ?"},
        {"tab\tand\nbreak", "tab\tand\nbreak"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transliterate(QString::fromUtf8(c.in)), QByteArray(c.out)) << c.in;
    }
}

TEST(TapText, DescribeNamesControlBytes) {
    EXPECT_EQ(describe(wire("<STX>12<CR><ETX>17;<CR><ESC>[p<ACK><0xff>")),
              QStringLiteral("<STX>12<CR><ETX>17;<CR><ESC>[p<ACK><0xff>"));
}

}  // namespace
}  // namespace vts::tap
