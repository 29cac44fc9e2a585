#include "Conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vts;

TEST(Trim, RemovesOnlyBlanks) {
    EXPECT_EQ(conv::trim(QStringLiteral("  abc  ")), QStringLiteral("abc"));
    EXPECT_EQ(conv::trim(QStringLiteral("\tabc \t")), QStringLiteral("\tabc \t"));
    EXPECT_EQ(conv::trim(QStringLiteral(" a b ")), QStringLiteral("a b"));
    EXPECT_EQ(conv::trim(QStringLiteral("    ")), QString());
    EXPECT_EQ(conv::trim(QString()), QString());
    EXPECT_EQ(conv::trim(QStringLiteral("\r\nx ")), QStringLiteral("\r\nx"));
}

TEST(Val, LenientNumericValue) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"", 0},          {"   ", 0},
        {"abc", 0},       {"12", 12},
        {"12abc", 12},    {"  42", 42},
        {" -3.5x", -3.5}, {"+7", 7},
        {"1 2 3", 123},   {"- 5", -5},
        {"\t8\n", 8},     {".5", 0.5},
        {"-.25", -0.25},  {"1.2.3", 1.2},
        {"1e3", 1000},    {"2E-2", 0.02},
        {"1e", 1},        {"1e+", 1},
        {"3d2", 300},     {"0012", 12},
        {"--1", 0},       {"-", 0},
        {".", 0},         {"5,000", 5},
        {"1\r2", 1},      {"12.50 USD", 12.5},
        {"0x1F", 0},      {"$5", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(conv::val(QString::fromLatin1(c.text)), c.expected) << c.text;
}

TEST(Val, HugeExponentDoesNotCrash) {
    EXPECT_TRUE(std::isinf(conv::val(QStringLiteral("1e9999999999"))) ||
                conv::val(QStringLiteral("1e9999999999")) > 1e300);
    EXPECT_DOUBLE_EQ(conv::val(QString(5000, QLatin1Char('0')) + QStringLiteral("7")), 7);
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, double> cases[] = {
        {0.5, 0},   {1.5, 2},   {2.5, 2},         {3.5, 4},           {-0.5, 0},
        {-1.5, -2}, {-2.5, -2}, {2.4999, 2},      {2.5001, 3},        {-2.6, -3},
        {7, 7},     {0, 0},     {32767.5, 32768}, {1e15 + 0.5, 1e15},
    };
    for (auto [in, out] : cases) EXPECT_DOUBLE_EQ(conv::roundHalfEven(in), out) << in;
}

TEST(Narrowing, SixteenBitsWithOverflowError) {
    EXPECT_EQ(conv::toInt16(32767), 32767);
    EXPECT_EQ(conv::toInt16(-32768), -32768);
    EXPECT_EQ(conv::toInt16(32767.4), 32767);
    EXPECT_EQ(conv::toInt16(-32768.5), -32768);  // half to even stays in range
    EXPECT_EQ(conv::toInt16(2.5), 2);
    EXPECT_THROW(conv::toInt16(32767.5), conv::OverflowError);
    EXPECT_THROW(conv::toInt16(32768), conv::OverflowError);
    EXPECT_THROW(conv::toInt16(-32769), conv::OverflowError);
    EXPECT_THROW(conv::toInt16(std::numeric_limits<double>::quiet_NaN()), conv::OverflowError);
    EXPECT_THROW(conv::toInt16(std::numeric_limits<double>::infinity()), conv::OverflowError);

    EXPECT_EQ(conv::narrow16(-32768), -32768);
    EXPECT_EQ(conv::narrow16(32767), 32767);
    EXPECT_THROW(conv::narrow16(32768), conv::OverflowError);
    EXPECT_THROW(conv::narrow16(-32769), conv::OverflowError);

    EXPECT_EQ(conv::toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(conv::toInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW(conv::toInt32(2147483648.0), conv::OverflowError);
    EXPECT_THROW(conv::toInt32(1e300), conv::OverflowError);
    try {
        conv::toInt16(40000);
        FAIL();
    } catch (const conv::OverflowError& e) {
        EXPECT_NE(std::string(e.what()).find("Overflow"), std::string::npos);
    }
}

TEST(ParseDateTime, FormsClientsWrite) {
    struct Case {
        const char* text;
        QDateTime expected;
    };
    const QDate d(1998, 7, 15);
    const Case cases[] = {
        {"7/15/1998 10:30:00 AM", QDateTime(d, QTime(10, 30, 0))},
        {"7/15/1998 10:30:00 PM", QDateTime(d, QTime(22, 30, 0))},
        {"07/15/1998 22:30", QDateTime(d, QTime(22, 30, 0))},
        {"1998-07-15 22:30:00", QDateTime(d, QTime(22, 30, 0))},
        {"1998-07-15T22:30:05", QDateTime(d, QTime(22, 30, 5))},
        {"7/15/1998", QDateTime(d, QTime(0, 0))},
        {"  7/15/1998   9:05:01  ", QDateTime(d, QTime(9, 5, 1))},
        {"7-15-1998 12:00:00 AM", QDateTime(d, QTime(0, 0))},
        {"7/15/1998 12:00:00 PM", QDateTime(d, QTime(12, 0))},
        {"7/15/1998 12:30 am", QDateTime(d, QTime(0, 30))},
        {"7/15/1998 3 PM", QDateTime(d, QTime(15, 0))},
        {"7/15/98 10:30", QDateTime(d, QTime(10, 30))},
        {"7/15/05", QDateTime(QDate(2005, 7, 15), QTime(0, 0))},
        {"7/15/29", QDateTime(QDate(2029, 7, 15), QTime(0, 0))},
        {"7/15/30", QDateTime(QDate(1930, 7, 15), QTime(0, 0))},
        {"15/7/1998", QDateTime(d, QTime(0, 0))},  // swapped when only that is a date
        {"July 15, 1998", QDateTime(d, QTime(0, 0))},
        {"Jul 15 1998 10:30 PM", QDateTime(d, QTime(22, 30))},
        {"15-Jul-1998", QDateTime(d, QTime(0, 0))},
        {"15 july 98", QDateTime(d, QTime(0, 0))},
        {"#7/15/1998 10:30:00#", QDateTime(d, QTime(10, 30))},
        {"2/29/2000", QDateTime(QDate(2000, 2, 29), QTime(0, 0))},
        {"10:30 PM", QDateTime(QDate(1899, 12, 30), QTime(22, 30))},
        {"23:59:59", QDateTime(QDate(1899, 12, 30), QTime(23, 59, 59))},
    };
    for (const auto& c : cases) {
        auto got = conv::parseDateTime(QString::fromLatin1(c.text));
        ASSERT_TRUE(got.has_value()) << c.text;
        EXPECT_EQ(*got, c.expected) << c.text << " -> " << got->toString().toStdString();
    }
}

TEST(ParseDateTime, TextThatIsNotADateFails) {
    const char* bad[] = {
        "",
        "   ",
        "hello",
        "12",
        "13/13/1998",
        "2/29/1999",
        "2/30/2000",
        "7/15/1998 25:00",
        "7/15/1998 10:60",
        "7/15/1998 10:30:61",
        "7/15/1998 13:00 PM",
        "7/15/1998 0 AM",
        "7/15/1998 x",
        "Foo 15, 1998",
        "7/15/1998/3",
        "1998-13-01",
        "1998-02-30 10:00",
        "7.15/1998",
        "tomorrow",
        "7//1998",
        "10:30 7/15/1998x",
    };
    for (const char* t : bad) EXPECT_FALSE(conv::parseDateTime(QString::fromLatin1(t))) << t;
    EXPECT_FALSE(conv::parseDateTime(QString(10000, QLatin1Char('1'))));
}

TEST(DateFormats, FixedPatterns) {
    const QDateTime dt(QDate(1998, 7, 5), QTime(9, 3, 7));
    EXPECT_EQ(conv::formatDateTime(dt), QStringLiteral("07/05/1998 09:03:07"));
    EXPECT_EQ(conv::formatDateTime(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("12/31/2024 23:59:59"));
    EXPECT_EQ(conv::formatDate(QDate(1999, 1, 5)), QStringLiteral("01/05/1999"));
    EXPECT_EQ(conv::toStoreText(dt), QStringLiteral("1998-07-05 09:03:07"));
    EXPECT_EQ(conv::formatGeneralDate(dt), QStringLiteral("7/5/1998 9:03:07 AM"));
    EXPECT_EQ(conv::formatGeneralDate(QDateTime(QDate(1998, 7, 15), QTime(22, 30))),
              QStringLiteral("7/15/1998 10:30:00 PM"));
    EXPECT_EQ(conv::formatGeneralDate(QDateTime(QDate(1998, 7, 15), QTime(12, 0, 1))),
              QStringLiteral("7/15/1998 12:00:01 PM"));
    EXPECT_EQ(conv::formatGeneralDate(QDateTime(QDate(1998, 7, 15), QTime(0, 0))),
              QStringLiteral("7/15/1998"));
    EXPECT_EQ(conv::formatGeneralDate(QDateTime(QDate(1998, 7, 15), QTime(0, 0, 1))),
              QStringLiteral("7/15/1998 12:00:01 AM"));
}

TEST(DateFormats, StoreTextRoundTrips) {
    const QDateTime dt(QDate(2001, 2, 3), QTime(4, 5, 6));
    EXPECT_EQ(conv::fromStoreText(conv::toStoreText(dt)), dt);
    EXPECT_EQ(conv::fromStoreText(QStringLiteral("2001-02-03")),
              QDateTime(QDate(2001, 2, 3), QTime(0, 0)));
    EXPECT_FALSE(conv::fromStoreText(QStringLiteral("02/03/2001 04:05:06")));
    EXPECT_FALSE(conv::fromStoreText(QStringLiteral("2001-02-30 00:00:00")));
    EXPECT_FALSE(conv::fromStoreText(QStringLiteral("2001-02-03 24:00:00")));
    EXPECT_FALSE(conv::fromStoreText(QString()));
}

TEST(NumberFormats, ThousandsSeparators) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},
        {5, "5"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {1234567, "1,234,567"},
        {-1234, "-1,234"},
        {2.5, "2"},
        {3.5, "4"},
        {999.5, "1,000"},
        {1e12, "1,000,000,000,000"},
    };
    for (auto [v, text] : cases)
        EXPECT_EQ(conv::formatThousands(v), QString::fromLatin1(text)) << v;
}

TEST(NumberFormats, LeadingSignPosition) {
    const std::pair<double, const char*> cases[] = {
        {0, " 0"},  {12, " 12"},      {1.001, " 1.001"},     {12.5, " 12.5"},
        {-3, "-3"}, {-0.25, "-0.25"}, {3000000, " 3000000"}, {1e20, " 1E+20"},
    };
    for (auto [v, text] : cases) EXPECT_EQ(conv::formatSigned(v), QString::fromLatin1(text)) << v;
}
