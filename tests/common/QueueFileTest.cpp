// The queue message file's line rules, value conversions and refusals.
#include "QueueFile.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <functional>

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
        EXPECT_EQ(m->blockSize, r.wantBlock) << r.block;
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

// Every field as text, in line order, for a comparison that names the field.
QStringList fields(const QueueMessage& m) {
    return {QStringLiteral("method=") + m.method,
            QStringLiteral("computer=") + m.computer,
            QStringLiteral("clientPath=") + m.clientPath,
            QStringLiteral("sender=") + m.sender,
            QStringLiteral("department=") + m.department,
            QStringLiteral("recipient=") + m.recipient,
            QStringLiteral("sentTime=") + m.sentTime.toString(Qt::ISODate),
            QStringLiteral("tapPhoneNumber=") + m.tapPhoneNumber,
            QStringLiteral("tapPin=") + m.tapPin,
            QStringLiteral("password=") + m.password,
            QStringLiteral("blockSize=%1").arg(m.blockSize),
            QStringLiteral("serialSettings=") + m.serialSettings,
            QStringLiteral("modemInit=") + m.modemInit,
            QStringLiteral("modemDial=") + m.modemDial,
            QStringLiteral("email=") + m.email,
            QStringLiteral("smtpServer=") + m.smtpServer,
            QStringLiteral("reverseOrder=%1").arg(m.reverseOrder),
            QStringLiteral("message=") + m.message};
}

// What a writer puts into a file, the server reads back field for field,
// through the bytes and the line rule the server uses.
TEST(QueueFileTest, WrittenFieldsParseBackUnchanged) {
    QueueMessage typical;
    typical.computer = QStringLiteral("PC-17");
    typical.clientPath = QStringLiteral("\\\\SERVER\\VT\\VT.MDB");
    typical.sender = QStringLiteral("ANNA");
    typical.department = QStringLiteral("Sales");
    typical.recipient = QStringLiteral("Bob");
    typical.sentTime = QDateTime(QDate(2026, 2, 3), QTime(16, 5, 6));
    typical.tapPhoneNumber = QStringLiteral("5551234");
    typical.tapPin = QStringLiteral("1001");
    typical.password = QStringLiteral("pw");
    typical.blockSize = 80;
    typical.serialSettings = QStringLiteral("1200,E,7,1");
    typical.modemInit = QStringLiteral("ATZ");
    typical.modemDial = QStringLiteral("ATDT");
    typical.email = QStringLiteral("ops@example.org");
    typical.smtpServer = QStringLiteral("mail.example.org");
    typical.message = QStringLiteral("Call the office");

    struct Row {
        const char* name;
        std::function<void(QueueMessage&)> change;
        QString wantMessage;  // empty: the message as written
    };
    const Row rows[] = {
        {"typical page", [](QueueMessage&) {}, {}},
        {"blanks around header values stay",
         [](QueueMessage& m) {
             m.sender = QStringLiteral("  ANNA ");
             m.tapPhoneNumber = QStringLiteral(" 5551234 ");
             m.serialSettings = QStringLiteral(" 9600,N,8,1");
         },
         {}},
        {"empty values",
         [](QueueMessage& m) {
             m = QueueMessage();
             m.sentTime = QDateTime(QDate(2026, 1, 1), QTime(0, 0));
         },
         {}},
        {"at the limits",
         [](QueueMessage& m) {
             m.tapPhoneNumber = QString(30, QLatin1Char('9'));
             m.tapPin = QString(20, QLatin1Char('8'));
             m.blockSize = 32767;
             m.reverseOrder = true;
         },
         {}},
        {"code page characters",
         [](QueueMessage& m) {
             m.sender = QStringLiteral("Zo\u00eb");
             m.message = QStringLiteral("Caf\u00e9 \u20ac5");
         },
         {}},
        {"a method naming a text file",
         [](QueueMessage& m) { m.method = QStringLiteral("C:\\PAGES\\NOTE.TXT"); },
         {}},
        {"message lines are joined",
         [](QueueMessage& m) { m.message = QStringLiteral(" Hello\r\nWorld \n"); },
         QStringLiteral("HelloWorld")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QueueMessage written = typical;
        row.change(written);
        ASSERT_TRUE(queuefile::validate(written).isEmpty());
        const QStringList lines =
            text::splitLines(text::fromWin1252(queuefile::encode(written)), text::LineEnds::CrOnly);
        queuefile::FormatError error{};
        const auto read = queuefile::parse(lines, &error);
        ASSERT_TRUE(read) << static_cast<int>(error);
        QueueMessage want = written;
        if (!row.wantMessage.isEmpty()) want.message = row.wantMessage;
        EXPECT_EQ(fields(*read), fields(want));
    }
}

}  // namespace
