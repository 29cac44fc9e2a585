// The queue message file's line rules, value conversions and refusals.
#include "QueueFile.h"

#include <gtest/gtest.h>

using namespace vts;

namespace {

QStringList header() {
    QStringList l;
    for (int i = 1; i <= 22; ++i) {
        l << QString();
    }
    l[0] = QStringLiteral("TAP");
    l[6] = QStringLiteral("7/15/2026 10:30:00 AM");
    l[7] = QStringLiteral(" 5551234 ");
    l[8] = QStringLiteral(" 99 ");
    return l;
}

TEST(QueueFileTest, BodyLinesAreJoinedWithoutSeparatorsAndTrimmed) {
    QStringList l = header();
    l << QStringLiteral("  Hello") << QStringLiteral("World  ");
    const auto m = queuefile::parse(l);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->message, QStringLiteral("HelloWorld"));
    EXPECT_EQ(m->phoneNumber(), QStringLiteral("5551234"));
    EXPECT_EQ(m->pin(), QStringLiteral("99"));
    EXPECT_EQ(m->sentTime, QDateTime(QDate(2026, 7, 15), QTime(10, 30)));
}

TEST(QueueFileTest, HeaderOnlyGivesEmptyMessageAndShortFileIsRefused) {
    auto m = queuefile::parse(header());
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->message.isEmpty());
    queuefile::FormatError e{};
    EXPECT_FALSE(queuefile::parse(header().mid(0, 21), &e));
    EXPECT_EQ(e, queuefile::FormatError::TooFewLines);
    EXPECT_FALSE(queuefile::parse({}, &e));
}

TEST(QueueFileTest, NumericLinesUseTheLenientConversion) {
    struct Row {
        const char* block;
        const char* reverse;
        int wantBlock;
        bool wantReverse;
    };
    const Row rows[] = {{"abc", "0", 0, false},
                        {"12 chars", "1", 12, true},
                        {"", "", 0, false},
                        {"  80", "-1", 80, true},
                        {"32767", "2x", 32767, true}};
    for (const Row& r : rows) {
        QStringList l = header();
        l[10] = QString::fromLatin1(r.block);
        l[16] = QString::fromLatin1(r.reverse);
        const auto m = queuefile::parse(l);
        ASSERT_TRUE(m) << r.block;
        EXPECT_EQ(m->maxCharacters, r.wantBlock) << r.block;
        EXPECT_EQ(m->reverseOrder, r.wantReverse) << r.reverse;
    }
}

TEST(QueueFileTest, ValuesThePagerWouldCutOrCannotHoldAreRefused) {
    struct Row {
        int line;
        QString value;
        queuefile::FormatError want;
    };
    const Row rows[] = {
        {7, QStringLiteral("not a date"), queuefile::FormatError::BadSentTime},
        {7, QString(), queuefile::FormatError::BadSentTime},
        {8, QString(31, QLatin1Char('1')), queuefile::FormatError::PhoneTooLong},
        {9, QString(21, QLatin1Char('1')), queuefile::FormatError::PinTooLong},
        {11, QStringLiteral("40000"), queuefile::FormatError::BadBlockSize},
        {11, QStringLiteral("-40000"), queuefile::FormatError::BadBlockSize},
    };
    for (const Row& r : rows) {
        QStringList l = header();
        l[r.line - 1] = r.value;
        queuefile::FormatError e{};
        EXPECT_FALSE(queuefile::parse(l, &e)) << r.line;
        EXPECT_EQ(e, r.want) << r.line;
    }
    // At the limits, with blanks around them, the values are fine.
    QStringList l = header();
    l[7] = QStringLiteral("  ") + QString(30, QLatin1Char('1')) + QStringLiteral("  ");
    l[8] = QString(20, QLatin1Char('2'));
    EXPECT_TRUE(queuefile::parse(l));
}

}  // namespace
