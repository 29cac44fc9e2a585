// The file of the parts of long SMS texts accepted in earlier attempts:
// what each kind of line says, that a line it cannot read counts as
// nothing accepted, and that noting keeps the file readable and bounded.
#include <SmsParts.h>
#include <TestSupport.h>

#include <QFile>

#include <gtest/gtest.h>

namespace vts {
namespace {

using smsparts::PartsSent;

const QString kKey = QStringLiteral("1001-1");

// "REFERENCE PART PART=ID ...", or "" for nothing accepted.
QString describe(const PartsSent& p) {
    if (!p.any()) {
        return {};
    }
    QString out = QString::number(p.reference);
    for (auto it = p.accepted.cbegin(); it != p.accepted.cend(); ++it) {
        out += u' ' + QString::number(it.key()) +
               (it.value().isEmpty() ? QString() : u'=' + QString::fromLatin1(it.value()));
    }
    return out;
}

class SmsPartsFile : public test::TempDirTest {
protected:
    QString file() const { return path(smsparts::fileName()); }
    QString read(const QString& key = kKey) const {
        return describe(smsparts::read(file(), key, "d1"));
    }
};

TEST_F(SmsPartsFile, WhatALineSaysOfTheTextsParts) {
    const QByteArray longId = "1:" + QByteArray(smsparts::kMaxIdBytes + 1, 'x').toHex();
    QByteArray filler;
    while (filler.size() <= smsparts::kMaxProgressBytes) {
        filler += "1001-9\td1\t1\t1\n";
    }
    const struct {
        const char* name;
        QByteArray file;  // null: no file
        const char* parts;
    } cases[] = {
        {"no file", {}, ""},
        {"parts 1 to N, as the GSM kind writes them", "1001-1\td1\t7\t2\n", "7 1 2"},
        {"parts with their message IDs", "1001-1\td1\t7\t2\t1:6d31,3:6d32\n", "7 1=m1 3=m2"},
        {"a part taken without an ID", "1001-1\td1\t9\t1\t2:\n", "9 2"},
        {"another text of the page", "1001-1\td2\t7\t2\n", ""},
        {"another page", "1001-10\td1\t7\t2\n1001-\td1\t7\t2\n", ""},
        {"the newest line of the page wins", "1001-1\td1\t7\t1\n1001-1\td1\t7\t2\n", "7 1 2"},
        {"unreadable lines around a good one", "\x01\xff\t\t\t\n1001-1\td1\t5\t1\n\n\t\n", "5 1"},
        {"a file past its bound is read from its newest end", filler + "1001-1\td1\t3\t1\n", "3 1"},
        {"too few fields", "1001-1\td1\t7\n", ""},
        {"too many fields", "1001-1\td1\t7\t1\t1:\tx\n", ""},
        {"a reference past one octet", "1001-1\td1\t256\t2\n", ""},
        {"a negative reference", "1001-1\td1\t-1\t2\n", ""},
        {"no part", "1001-1\td1\t7\t0\n", ""},
        {"more parts than one octet counts", "1001-1\td1\t7\t256\n", ""},
        {"a count with text after it", "1001-1\td1\t7\t2x\n", ""},
        {"a count that is not the list's", "1001-1\td1\t7\t2\t1:6d31\n", ""},
        {"an ID not in hex", "1001-1\td1\t7\t1\t1:zz\n", ""},
        {"an ID of odd length", "1001-1\td1\t7\t1\t1:6d3\n", ""},
        {"a part without its number", "1001-1\td1\t7\t1\t6d31\n", ""},
        {"part 0", "1001-1\td1\t7\t1\t0:6d31\n", ""},
        {"a part twice", "1001-1\td1\t7\t2\t1:6d31,1:6d32\n", ""},
        {"an ID longer than a message_id", "1001-1\td1\t7\t1\t" + longId + '\n', ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file());
        if (!c.file.isNull()) {
            writeFile(smsparts::fileName(), c.file);
        }
        EXPECT_EQ(read(), QLatin1String(c.parts));
    }
}

TEST_F(SmsPartsFile, NotingKeepsTheFileReadableAndBounded) {
    // Parts 1 to N without IDs: the line every version reads.
    ASSERT_TRUE(smsparts::note(file(), kKey, PartsSent::firstParts("d1", 7, 2)));
    EXPECT_EQ(readFile(smsparts::fileName()), "1001-1\td1\t7\t2\n");
    EXPECT_EQ(read(), QStringLiteral("7 1 2"));

    // With gaps and IDs (any octets), replacing the page's entry.
    PartsSent p{"d1", 200, {{1, "m1"}, {3, QByteArray("a\tb,c:\n", 7)}}};
    ASSERT_TRUE(smsparts::note(file(), kKey, p));
    EXPECT_EQ(smsparts::read(file(), kKey, "d1").accepted, p.accepted);
    EXPECT_EQ(smsparts::read(file(), kKey, "d1").leading(), 1);
    ASSERT_TRUE(
        smsparts::note(file(), QStringLiteral("1002-1"), PartsSent::firstParts("d1", 1, 1)));
    EXPECT_EQ(readFile(smsparts::fileName()).count('\n'), 2);

    // What cannot be kept in a line is refused, the file unchanged.
    const QByteArray before = readFile(smsparts::fileName());
    EXPECT_FALSE(smsparts::note(file(), QStringLiteral("10\t01-1"), p));
    EXPECT_FALSE(smsparts::note(file(), QStringLiteral("1001\n-1"), p));
    EXPECT_FALSE(smsparts::note(file(), QString(), p));
    EXPECT_FALSE(smsparts::note(file(), kKey, {"d\t1", 7, {{1, {}}}}));
    EXPECT_FALSE(smsparts::note(file(), kKey, {"d1", 256, {{1, {}}}}));
    EXPECT_FALSE(smsparts::note(file(), kKey, {"d1", 7, {{0, {}}}}));
    EXPECT_FALSE(smsparts::note(file(), kKey, {"d1", 7, {{256, {}}}}));
    EXPECT_FALSE(
        smsparts::note(file(), kKey, {"d1", 7, {{1, QByteArray(smsparts::kMaxIdBytes + 1, 'm')}}}));
    EXPECT_EQ(readFile(smsparts::fileName()), before);

    // An unreadable line goes at the next update; forgetting the last
    // entry removes the file.
    writeFile(smsparts::fileName(), before + "garbage\n");
    ASSERT_TRUE(smsparts::note(file(), kKey, {}));
    EXPECT_EQ(readFile(smsparts::fileName()), "1002-1\td1\t1\t1\n");
    EXPECT_EQ(read(), QString());
    ASSERT_TRUE(smsparts::note(file(), QStringLiteral("1002-1"), {}));
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_FALSE(QFile::exists(file() + QStringLiteral(".lock")));

    // Bounded by entries and by bytes: the oldest go first.
    for (int i = 0; i <= smsparts::kMaxProgressEntries; ++i) {
        ASSERT_TRUE(smsparts::note(file(), QString::number(i), PartsSent::firstParts("d1", 1, 1)));
    }
    EXPECT_EQ(readFile(smsparts::fileName()).count('\n'), smsparts::kMaxProgressEntries);
    EXPECT_EQ(read(QStringLiteral("0")), QString());
    EXPECT_EQ(read(QString::number(smsparts::kMaxProgressEntries)), QStringLiteral("1 1"));
    PartsSent full{"d1", 1, {}};
    for (int part = 1; part <= smsparts::kMaxParts; ++part) {
        full.accepted.insert(part, QByteArray(smsparts::kMaxIdBytes, 'i'));
    }
    ASSERT_TRUE(smsparts::note(file(), QStringLiteral("big-1"), full));
    ASSERT_TRUE(smsparts::note(file(), QStringLiteral("big-2"), full));
    EXPECT_LE(QFile(file()).size(), smsparts::kMaxProgressBytes);
    EXPECT_EQ(smsparts::read(file(), QStringLiteral("big-1"), "d1").accepted.size(), 0);
    EXPECT_EQ(smsparts::read(file(), QStringLiteral("big-2"), "d1").accepted, full.accepted);
}

}  // namespace
}  // namespace vts
