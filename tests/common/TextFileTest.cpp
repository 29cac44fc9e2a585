#include "TestSupport.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vts;

TEST(TextFile, Windows1252RoundTripsEveryMappedByte) {
    // 0x80 is the euro sign, 0x92 the right single quote, 0xE9 e-acute.
    EXPECT_EQ(text::fromWin1252(QByteArray("\x80\x92\xe9", 3)),
              QStringLiteral("\u20ac\u2019\u00e9"));
    QByteArray all;
    for (int b = 1; b < 256; ++b) all.append(char(b));
    const QString decoded = text::fromWin1252(all);
    EXPECT_EQ(decoded.size(), 255);
    EXPECT_EQ(text::toWin1252(decoded), all);
}

TEST(TextFile, UnmappableCharactersBecomeOneQuestionMarkEach) {
    EXPECT_EQ(text::toWin1252(QStringLiteral("a\u4e2db")), QByteArray("a?b"));
    EXPECT_EQ(text::toWin1252(QString::fromUcs4(U"x\U0001F600y")), QByteArray("x?y"));
}

TEST(TextFile, LinesEndAtCrCrLfOrLoneLf) {
    struct Case {
        const char* text;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\r\n\nb", {"a", "", "b"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::splitLines(QString::fromLatin1(c.text)), c.lines) << c.text;
}

class TextFileTest : public test::TempDirTest {};

TEST_F(TextFileTest, WritesCrLfAndReadsBackBounded) {
    ASSERT_TRUE(text::writeLines(path(QStringLiteral("f.txt")),
                                 {QStringLiteral("caf\u00e9"), QString(), QStringLiteral("x")}));
    EXPECT_EQ(readFile(QStringLiteral("f.txt")), QByteArray("caf\xe9\r\n\r\nx\r\n"));
    auto lines = text::readLines(path(QStringLiteral("f.txt")));
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (QStringList{QStringLiteral("caf\u00e9"), QString(), QStringLiteral("x")}));
    EXPECT_EQ(text::readFirstLine(path(QStringLiteral("f.txt"))), QStringLiteral("caf\u00e9"));
    bool tooLarge = false;
    EXPECT_FALSE(text::readLines(path(QStringLiteral("f.txt")), 5, &tooLarge));
    EXPECT_TRUE(tooLarge);
    EXPECT_FALSE(text::readLines(path(QStringLiteral("missing.txt")), 100, &tooLarge));
    EXPECT_FALSE(tooLarge);
    EXPECT_FALSE(text::readFirstLine(path(QStringLiteral("missing.txt"))));
}

TEST(TextFile, WithCarriageReturnsOnlyALoneLineFeedStaysInItsLine) {
    struct Case {
        const char* name;
        const char* text;
        QStringList lines;
    };
    const Case cases[] = {
        {"crlf", "a\r\nb\r\n", {"a", "b"}},
        {"cr", "a\rb", {"a", "b"}},
        {"lone lf kept", "a\nb\r\n", {"a\nb"}},
        {"lf only is one line", "a\nb\nc\n", {"a\nb\nc\n"}},
        {"lf before cr", "a\n\rb", {"a\n", "b"}},
        {"cr cr lf", "a\r\r\nb", {"a", "", "b"}},
        {"lf after crlf", "a\r\n\nb", {"a", "\nb"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::splitLines(QString::fromLatin1(c.text), text::LineEnds::CrOnly), c.lines)
            << c.name;
}

TEST_F(TextFileTest, BoundedReadsTakeRegularFilesOnlyAndNeverWait) {
    writeFile(QStringLiteral("f.txt"), "0123456789");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo"))).constData(), 0644), 0);
    QDir(dir()).mkdir(QStringLiteral("sub"));
    struct Case {
        const char* name;
        qint64 bound;
        text::ReadError error;
    };
    const Case cases[] = {
        {"f.txt", 10, text::ReadError::None},       {"f.txt", 9, text::ReadError::TooLarge},
        {"fifo", 100, text::ReadError::NotRegular},  // would block a plain open for good
        {"sub", 100, text::ReadError::NotRegular},  {"missing", 100, text::ReadError::CannotOpen},
    };
    for (const auto& c : cases) {
        text::ReadError error = text::ReadError::None;
        const auto bytes = text::readBounded(path(QString::fromLatin1(c.name)), c.bound, &error);
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(bytes.has_value(), c.error == text::ReadError::None) << c.name;
    }
    EXPECT_EQ(text::readBounded(path(QStringLiteral("f.txt")), 10), QByteArray("0123456789"));
}
