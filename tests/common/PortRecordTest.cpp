#include "PortRecord.h"
#include "TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace vts;

class PortRecordTest : public test::TempDirTest {};

TEST_F(PortRecordTest, EncodesFieldsAtTheirOffsetsLittleEndianBlankPadded) {
    PortRecord r;
    r.comPort = 3;
    r.message = QStringLiteral("Hello");
    r.phoneNumber = QStringLiteral("5551234");
    r.status = 1;
    r.index = 0x01020304;
    r.tapPassword = QStringLiteral("ABCDEFGH");  // cut at 6
    r.uniqueId = QStringLiteral("caf\u00e9");
    const QByteArray b = r.encode();
    ASSERT_EQ(b.size(), 772);
    EXPECT_EQ(b.mid(0, 2), QByteArray("\x03\x00", 2));
    EXPECT_EQ(b.mid(2, 5), QByteArray("Hello"));
    EXPECT_EQ(b.at(7), ' ');
    EXPECT_EQ(b.mid(502, 7), QByteArray("5551234"));
    EXPECT_EQ(b.mid(634, 2), QByteArray("\x01\x00", 2));
    EXPECT_EQ(b.mid(728, 6), QByteArray("ABCDEF"));
    EXPECT_EQ(b.mid(738, 4), QByteArray("\x04\x03\x02\x01", 4));
    EXPECT_EQ(static_cast<unsigned char>(b.at(692 + 3)), 0xE9);  // Windows-1252
    auto back = PortRecord::decode(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->message.trimmed(), QStringLiteral("Hello"));
    EXPECT_EQ(back->index, 0x01020304);
    EXPECT_EQ(back->uniqueId.trimmed(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(back->encode(), b);
}

TEST_F(PortRecordTest, RecordsAreWrittenInPlaceAndTheFileIsNeverShortened) {
    const QString f = path(portfile::fileName(2));
    PortRecord r;
    r.status = 2;
    ASSERT_TRUE(portfile::writeRecord(f, 3, r.encode()));
    EXPECT_EQ(portfile::recordCount(f), 3);
    r.status = 0;
    ASSERT_TRUE(portfile::writeRecord(f, 1, r.encode()));
    EXPECT_EQ(portfile::recordCount(f), 3);
    auto rec = portfile::readRecord(f, 3);
    ASSERT_TRUE(rec);
    EXPECT_EQ(PortRecord::decode(*rec)->status, 2);
    EXPECT_FALSE(portfile::readRecord(f, 4));
    EXPECT_FALSE(portfile::readRecord(path("missing.dat"), 1));
}

TEST_F(PortRecordTest, APortLockIsHeldByOneHolderAtATimeAndFreedOnRelease) {
    PortLock first(dir(), 3), second(dir(), 3), otherPort(dir(), 4);
    ASSERT_TRUE(first.tryLock());
    EXPECT_TRUE(first.tryLock());  // already held
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(otherPort.tryLock());
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("mordax3.lck"))));
    first.release();
    EXPECT_TRUE(second.tryLock());
    // Reading and writing the port file's records leave the hold alone.
    const QString file = path(portfile::fileName(3));
    ASSERT_TRUE(portfile::writeRecord(file, 1, PortRecord().encode()));
    ASSERT_TRUE(portfile::readRecord(file, 1));
    EXPECT_FALSE(first.tryLock());
}
