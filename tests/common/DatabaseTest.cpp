#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "LogStore.h"
#include "RowEdit.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace vts;
using db::Database;
using db::DbError;
using db::FieldType;

namespace {

db::TableDef peopleTable() {
    db::TableDef t;
    t.name = QStringLiteral("tblPeople");
    t.fields = {
        {QStringLiteral("ID"), FieldType::Long, 0, true, true},
        {QStringLiteral("Name"), FieldType::Text, 10, false, true},
        {QStringLiteral("Age"), FieldType::Long, 0, false, true},
        {QStringLiteral("Small"), FieldType::Integer, 0, false, true},
        {QStringLiteral("Active"), FieldType::YesNo, 0, false, true},
        {QStringLiteral("Born"), FieldType::DateTime, 0, false, true},
        {QStringLiteral("Notes"), FieldType::Memo, 0, false, true},
        {QStringLiteral("Score"), FieldType::Double, 0, false, true},
    };
    t.indexes = {{QStringLiteral("ID"), QStringLiteral("ID"), true, true, true},
                 {QStringLiteral("Name"), QStringLiteral("Name"), false, false, false}};
    return t;
}

// Reads one value straight from the file, past the layer.
QString rawValue(const QString& file, const QString& sql) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    QString out = QStringLiteral("<error>");
    if (sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK) {
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            out =
                sqlite3_column_type(st, 0) == SQLITE_NULL
                    ? QStringLiteral("NULL")
                    : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        else if (rc == SQLITE_DONE)
            out = QStringLiteral("<none>");
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

}  // namespace

class DatabaseTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        m_db = Database::create(path(QStringLiteral("People.db")));
        m_db->createTable(peopleTable());
    }
    void add(const QString& name, int age = 0) {
        auto rs = m_db->openTable(QStringLiteral("tblPeople"));
        rs->addNew();
        rs->setValue(QStringLiteral("Name"), name);
        rs->setValue(QStringLiteral("Age"), age);
        rs->update();
    }
    qint64 count() {
        auto q = m_db->openQuery(QStringLiteral("select count(*) as n from tblPeople"));
        return q->value(QStringLiteral("n")).toLongLong();
    }
    std::unique_ptr<Database> m_db;
};

TEST_F(DatabaseTest, OpensByBareNameIgnoringCase) {
    m_db->close();
    EXPECT_FALSE(m_db->isOpen());
    auto db = Database::open(dir(), QStringLiteral("PEOPLE.DB"));
    EXPECT_EQ(db->filePath(), path(QStringLiteral("People.db")));
    EXPECT_TRUE(db->hasTable(QStringLiteral("TBLPEOPLE")));
    EXPECT_FALSE(db->hasTable(QStringLiteral("tblNothing")));
    EXPECT_EQ(rawValue(db->filePath(), QStringLiteral("PRAGMA journal_mode")),
              QStringLiteral("wal"));
}

TEST_F(DatabaseTest, MissingDamagedAndExistingFilesGiveErrorsNamingTheFile) {
    try {
        Database::open(dir(), QStringLiteral("VTSCFG.MDB"));
        FAIL() << "no error for a missing file";
    } catch (const DbError& e) {
        EXPECT_EQ(e.file(), path(QStringLiteral("VTSCFG.MDB")));
        EXPECT_NE(std::string(e.what()).find("VTSCFG.MDB"), std::string::npos);
    }
    writeFile(QStringLiteral("bad.mdb"), QByteArray(4096, 'x'));
    try {
        Database::open(dir(), QStringLiteral("BAD.MDB"));
        FAIL() << "no error for a damaged file";
    } catch (const DbError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("not a database or is damaged")))
            << e.what();
        EXPECT_EQ(e.file(), path(QStringLiteral("bad.mdb")));
    }
    EXPECT_THROW(Database::create(path(QStringLiteral("people.DB"))), DbError);
    EXPECT_THROW(m_db->createTable(peopleTable()), DbError);
}

TEST_F(DatabaseTest, NewRowNumberIsReadableAtOnceAndStoredOnlyByUpdate) {
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    EXPECT_TRUE(rs->eof());
    EXPECT_TRUE(rs->isEmpty());
    rs->addNew();
    EXPECT_EQ(rs->int32(QStringLiteral("id")), 1);
    rs->setValue(QStringLiteral("NAME"), QStringLiteral("Ann"));
    // Another connection does not see the half-made row.
    EXPECT_EQ(rawValue(m_db->filePath(), QStringLiteral("select count(*) from tblPeople")),
              QStringLiteral("0"));
    rs->update();
    EXPECT_EQ(rawValue(m_db->filePath(), QStringLiteral("select Name from tblPeople where ID=1")),
              QStringLiteral("Ann"));
    rs->addNew();
    EXPECT_EQ(rs->value(QStringLiteral("ID")).toInt(), 2);
    rs->cancelUpdate();
    EXPECT_EQ(count(), 1);
    // The abandoned number is not handed out again.
    rs->addNew();
    EXPECT_EQ(rs->int32(QStringLiteral("ID")), 3);
    rs->update();
    EXPECT_THROW(rs->setValue(QStringLiteral("Name"), QStringLiteral("x")), DbError);
    EXPECT_THROW(rs->update(), DbError);
}

TEST_F(DatabaseTest, RowsStartedTogetherGetDistinctNumbers) {
    auto a = m_db->openTable(QStringLiteral("tblPeople"));
    auto b = m_db->openTable(QStringLiteral("tblPeople"));
    a->addNew();
    b->addNew();
    EXPECT_EQ(a->int32(QStringLiteral("ID")), 1);
    EXPECT_EQ(b->int32(QStringLiteral("ID")), 2);
    b->setValue(QStringLiteral("Name"), QStringLiteral("B"));
    b->update();
    a->cancelUpdate();
    EXPECT_EQ(count(), 1);
    // The abandoned highest number stays used after reopening.
    add(QStringLiteral("C"));
    a->cancelUpdate();  // nothing pending: no effect
    m_db.reset();
    m_db = Database::open(dir(), QStringLiteral("people.db"));
    auto c = m_db->openTable(QStringLiteral("tblPeople"));
    c->addNew();
    c->cancelUpdate();
    m_db.reset();
    m_db = Database::open(dir(), QStringLiteral("people.db"));
    c = m_db->openTable(QStringLiteral("tblPeople"));
    c->addNew();
    EXPECT_EQ(c->int32(QStringLiteral("ID")), 5);
}

TEST_F(DatabaseTest, RecordSetDestroyedMidRowLeavesNothingBehind) {
    {
        auto rs = m_db->openTable(QStringLiteral("tblPeople"));
        rs->addNew();
        rs->setValue(QStringLiteral("Name"), QStringLiteral("Half"));
    }
    EXPECT_EQ(count(), 0);
    add(QStringLiteral("Whole"));
    EXPECT_EQ(count(), 1);
}

// A scoped edit stores its row only on commit; a refused value, an early
// exit or a failed store abandons the row, and the record set goes on.
TEST_F(DatabaseTest, ScopedEditStoresOnlyOnCommitAndAbandonsOnEveryOtherExit) {
    add(QStringLiteral("Ann"), 30);
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    using Mode = db::RowEdit::Mode;
    EXPECT_THROW(
        {
            db::RowEdit row(*rs, Mode::Add);
            row.set(QStringLiteral("Name"), QStringLiteral("Bob"));
            row.set(QStringLiteral("Name"), QStringLiteral("far too long a name"));
            row.commit();
        },
        DbError);
    { db::RowEdit row(*rs, Mode::Add); }  // left without commit
    EXPECT_EQ(count(), 1);
    ASSERT_TRUE(rs->findFirst(QStringLiteral("Name"), QStringLiteral("ann")));
    EXPECT_THROW(
        {
            db::RowEdit row(*rs, Mode::Edit);
            row.set(QStringLiteral("Age"), 31);
            row.set(QStringLiteral("Age"), QStringLiteral("not a number"));
        },
        DbError);
    EXPECT_EQ(
        rawValue(path(QStringLiteral("People.db")), QStringLiteral("select Age from tblPeople")),
        QStringLiteral("30"));
    {
        db::RowEdit row(*rs, Mode::Edit);
        row.set(QStringLiteral("Age"), 32);
        row.commit();
    }
    {
        db::RowEdit row(*rs, Mode::Add);
        row.set(QStringLiteral("Name"), QStringLiteral("Cy"));
        row.commit();
    }
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(rawValue(path(QStringLiteral("People.db")),
                       QStringLiteral("select Age from tblPeople where Name = 'Ann'")),
              QStringLiteral("32"));
    // Numbers of abandoned rows are not handed out again.
    EXPECT_EQ(rawValue(path(QStringLiteral("People.db")),
                       QStringLiteral("select ID from tblPeople where Name = 'Cy'")),
              QStringLiteral("4"));
}

// A write that must not wait long fails fast on another program's lock,
// and the wait the store had before (a server's own short one) comes back.
TEST_F(DatabaseTest, ShortWaitFailsFastAndPutsTheEarlierWaitBack) {
    m_db->setBusyTimeout(200);
    auto other = Database::open(dir(), QStringLiteral("People.db"));
    other->execute(QStringLiteral("BEGIN IMMEDIATE"));
    {
        db::ShortWait wait(*m_db, 20);
        EXPECT_EQ(m_db->busyTimeout(), 20);
        EXPECT_THROW(add(QStringLiteral("Held")), DbError);
    }
    EXPECT_EQ(m_db->busyTimeout(), 200);
    other->execute(QStringLiteral("COMMIT"));
    add(QStringLiteral("Free"));
    EXPECT_EQ(count(), 1);
}

TEST_F(DatabaseTest, TextWidthIsEnforcedAndNoHalfRowIsStored) {
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    rs->addNew();
    rs->setValue(QStringLiteral("Name"), QStringLiteral("0123456789"));  // exactly 10
    try {
        rs->setValue(QStringLiteral("Name"), QStringLiteral("01234567890"));
        FAIL();
    } catch (const DbError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Name"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("too small"))) << e.what();
    }
    EXPECT_EQ(rs->text(QStringLiteral("Name")), QStringLiteral("0123456789"));
    rs->cancelUpdate();
    EXPECT_EQ(count(), 0);
    // Width counts characters, not bytes.
    rs->addNew();
    EXPECT_NO_THROW(rs->setValue(QStringLiteral("Name"), QString(10, QChar(0x00e9))));
    rs->setValue(QStringLiteral("Notes"), QString(100000, QLatin1Char('n')));  // memo: no width
    rs->update();
    EXPECT_EQ(count(), 1);
}

TEST_F(DatabaseTest, ValuesAreConvertedByFieldKind) {
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    rs->addNew();
    rs->setValue(QStringLiteral("Age"), QStringLiteral(" 42 "));
    rs->setValue(QStringLiteral("Small"), QStringLiteral("-5"));
    rs->setValue(QStringLiteral("Active"), true);
    rs->setValue(QStringLiteral("Born"), QStringLiteral("7/15/1998 10:30:00 PM"));
    rs->setValue(QStringLiteral("Notes"), QStringLiteral("0123"));
    rs->setValue(QStringLiteral("Score"), QStringLiteral("1,234.5"));
    rs->update();
    const QString f = m_db->filePath();
    EXPECT_EQ(rawValue(f, QStringLiteral("select Age from tblPeople")), QStringLiteral("42"));
    EXPECT_EQ(rawValue(f, QStringLiteral("select typeof(Age) from tblPeople")),
              QStringLiteral("integer"));
    EXPECT_EQ(rawValue(f, QStringLiteral("select Active from tblPeople")), QStringLiteral("-1"));
    EXPECT_EQ(rawValue(f, QStringLiteral("select Born from tblPeople")),
              QStringLiteral("1998-07-15 22:30:00"));
    EXPECT_EQ(rawValue(f, QStringLiteral("select Notes from tblPeople")), QStringLiteral("0123"));
    EXPECT_EQ(rawValue(f, QStringLiteral("select Score from tblPeople")), QStringLiteral("1234.5"));

    auto back = m_db->openTable(QStringLiteral("TBLPEOPLE"));
    EXPECT_EQ(back->value(QStringLiteral("age")), QVariant(42));
    EXPECT_EQ(back->int32(QStringLiteral("SMALL")), -5);
    EXPECT_EQ(back->value(QStringLiteral("Active")), QVariant(true));
    EXPECT_EQ(back->int32(QStringLiteral("Active")), -1);
    EXPECT_EQ(back->value(QStringLiteral("Born")).toDateTime(),
              QDateTime(QDate(1998, 7, 15), QTime(22, 30)));
    EXPECT_EQ(back->text(QStringLiteral("Born")), QStringLiteral("7/15/1998 10:30:00 PM"));
    EXPECT_EQ(back->text(QStringLiteral("Notes")), QStringLiteral("0123"));
    EXPECT_DOUBLE_EQ(back->value(QStringLiteral("Score")).toDouble(), 1234.5);
    // Never assigned: null, read as "" and 0.
    EXPECT_TRUE(back->isNull(QStringLiteral("Name")));
    EXPECT_EQ(back->text(QStringLiteral("Name")), QString());
    EXPECT_THROW(back->value(QStringLiteral("NoSuchField")), DbError);
}

TEST_F(DatabaseTest, BadValuesAreRefusedWithAClearError) {
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    rs->addNew();
    struct Case {
        const char* field;
        QVariant value;
    };
    const Case bad[] = {
        {"Age", QStringLiteral("abc")},
        {"Age", QStringLiteral("12abc")},
        {"Age", 3e9},
        {"Small", 40000},
        {"Small", QStringLiteral("32768")},
        {"Active", QStringLiteral("maybe")},
        {"Born", QStringLiteral("not a date")},
        {"Born", QDateTime()},
        {"Score", QStringLiteral("1.2.3")},
        {"ID", 99},
    };
    for (const auto& c : bad) {
        try {
            rs->setValue(QString::fromLatin1(c.field), c.value);
            ADD_FAILURE() << c.field << " accepted " << c.value.toString().toStdString();
        } catch (const DbError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.field))) << e.what();
        }
    }
    // Blank text for a number or date stores no value; yes/no from numbers.
    rs->setValue(QStringLiteral("Age"), QStringLiteral("  "));
    EXPECT_FALSE(rs->value(QStringLiteral("Age")).isValid());
    rs->setValue(QStringLiteral("Age"), 2.5);
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 2);
    rs->setValue(QStringLiteral("Active"), 1);
    EXPECT_EQ(rs->value(QStringLiteral("Active")), QVariant(true));
    rs->setValue(QStringLiteral("Active"), QStringLiteral("0"));
    EXPECT_EQ(rs->value(QStringLiteral("Active")), QVariant(false));
    rs->setValue(QStringLiteral("Active"), QVariant());
    EXPECT_TRUE(rs->isNull(QStringLiteral("Active")));
    rs->update();
    EXPECT_EQ(rawValue(m_db->filePath(), QStringLiteral("select Active is null from tblPeople")),
              QStringLiteral("1"));
}

TEST_F(DatabaseTest, FindFirstComparesTextWithoutCaseAndQuotesAreCharacters) {
    add(QStringLiteral("WS01"), 1);
    add(QStringLiteral("O'Brien"), 2);
    add(QStringLiteral("ws01"), 3);
    add(QStringLiteral("x' OR 1=1"), 4);
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    ASSERT_TRUE(rs->findFirst(QStringLiteral("name"), QStringLiteral("ws01")));
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 1);  // the first in row order
    ASSERT_TRUE(rs->findFirst(QStringLiteral("Name"), QStringLiteral("o'brien")));
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 2);
    // No match: position unchanged.
    EXPECT_FALSE(rs->findFirst(QStringLiteral("Name"), QStringLiteral("x")));
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 2);
    EXPECT_FALSE(rs->findFirst(QStringLiteral("Name"), QStringLiteral("x' OR 1=1 ")));
    ASSERT_TRUE(rs->findFirst(QStringLiteral("Name"), QStringLiteral("X' or 1=1")));
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 4);
    // "[ID]=" + number, with the number as text or as a number.
    ASSERT_TRUE(rs->findFirst(QStringLiteral("ID"), QStringLiteral("3")));
    EXPECT_EQ(rs->text(QStringLiteral("Name")), QStringLiteral("ws01"));
    ASSERT_TRUE(rs->findFirst(QStringLiteral("ID"), 2));
    EXPECT_FALSE(rs->findFirst(QStringLiteral("ID"), QStringLiteral("abc")));
    EXPECT_FALSE(rs->findFirst(QStringLiteral("Name"), QString(50, QLatin1Char('a'))));
    EXPECT_FALSE(rs->findFirst(QStringLiteral("Age"), QVariant()));
}

TEST_F(DatabaseTest, TableRecordSetWalksRowsInOrderAndSeesLaterRows) {
    for (int i = 1; i <= 3; ++i) add(QStringLiteral("P%1").arg(i), i);
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    add(QStringLiteral("P4"), 4);  // added by someone else after the open
    QStringList names;
    for (; !rs->eof(); rs->moveNext()) names << rs->text(QStringLiteral("Name"));
    EXPECT_EQ(names, (QStringList{"P1", "P2", "P3", "P4"}));
    EXPECT_THROW(rs->moveNext(), DbError);
    EXPECT_THROW(rs->value(QStringLiteral("Name")), DbError);

    rs->moveFirst();
    rs->moveNext();
    rs->remove();
    EXPECT_THROW(rs->value(QStringLiteral("Name")), DbError);
    rs->moveNext();
    EXPECT_EQ(rs->text(QStringLiteral("Name")), QStringLiteral("P3"));
    rs->edit();
    rs->setValue(QStringLiteral("Age"), 33);
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 33);
    rs->cancelUpdate();
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 3);
    rs->edit();
    rs->setValue(QStringLiteral("Age"), 30);
    rs->update();
    EXPECT_EQ(rs->int32(QStringLiteral("Age")), 30);
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(rs->fieldNames().first(), QStringLiteral("ID"));
    EXPECT_EQ(rs->fieldNames().size(), 8);
}

TEST_F(DatabaseTest, OpenTableWhereSelectsAndUpdatesMatchingRows) {
    add(QStringLiteral("A"), 1);
    add(QStringLiteral("B"), 2);
    auto rs = m_db->openTableWhere(QStringLiteral("tblPeople"), QStringLiteral("ID"), 2);
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->text(QStringLiteral("Name")), QStringLiteral("B"));
    rs->edit();
    rs->setValue(QStringLiteral("Name"), QStringLiteral("Bee"));
    rs->update();
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    EXPECT_EQ(rawValue(m_db->filePath(), QStringLiteral("select Name from tblPeople where ID=2")),
              QStringLiteral("Bee"));
    EXPECT_TRUE(m_db->openTableWhere(QStringLiteral("tblPeople"), QStringLiteral("ID"), 9)->eof());
    EXPECT_FALSE(m_db->openTableWhere(QStringLiteral("tblPeople"), QStringLiteral("name"),
                                      QStringLiteral("bee"))
                     ->eof());
    EXPECT_THROW(m_db->openTable(QStringLiteral("tblMissing")), DbError);
}

TEST_F(DatabaseTest, QueryRecordSetsAreReadOnlyAndGroupTextWithoutCase) {
    add(QStringLiteral("smith"));
    add(QStringLiteral("Adams"));
    add(QStringLiteral("SMITH"));
    auto q = m_db->openQuery(QStringLiteral("select distinct Name from tblPeople order by Name"));
    QStringList names;
    for (; !q->eof(); q->moveNext()) names << q->text(QStringLiteral("NAME"));
    ASSERT_EQ(names.size(), 2);
    EXPECT_EQ(names.at(0), QStringLiteral("Adams"));
    EXPECT_EQ(names.at(1).toLower(), QStringLiteral("smith"));
    q->moveFirst();
    EXPECT_TRUE(q->findFirst(QStringLiteral("name"), QStringLiteral("ADAMS")));
    EXPECT_THROW(q->addNew(), DbError);
    EXPECT_THROW(q->edit(), DbError);
    auto p = m_db->openQuery(QStringLiteral("select * from tblPeople where Name = ?"),
                             {QStringLiteral("adams")});
    EXPECT_EQ(p->int32(QStringLiteral("ID")), 2);
    EXPECT_THROW(m_db->openQuery(QStringLiteral("select * from nothing")), DbError);
    EXPECT_THROW(m_db->execute(QStringLiteral("delete from tblPeople; drop table tblPeople")),
                 DbError);
    EXPECT_THROW(m_db->execute(QStringLiteral("delete from tblPeople where ID = ?")), DbError);
    EXPECT_EQ(m_db->execute(QStringLiteral("delete from tblPeople where ID = ?"), {1}), 1);
}

TEST_F(DatabaseTest, RecordSetOutlivingItsDatabaseFailsCleanly) {
    add(QStringLiteral("A"));
    auto rs = m_db->openTable(QStringLiteral("tblPeople"));
    m_db.reset();
    EXPECT_THROW(rs->moveFirst(), DbError);
    EXPECT_THROW(rs->addNew(), DbError);
}

// The purge dialect, translated.
class PurgeTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        logstore::create(dir());
        m_db = logstore::open(dir());
    }
    void add(const QString& sender, const QDateTime& sent) {
        auto rs = m_db->openTable(QStringLiteral("tblLog"));
        rs->addNew();
        rs->setValue(QStringLiteral("Status"), 1);
        rs->setValue(QStringLiteral("Sender"), sender);
        rs->setValue(QStringLiteral("SentTime"), sent);
        rs->update();
    }
    QStringList senders() {
        QStringList out;
        auto q = m_db->openQuery(QStringLiteral("select Sender from tblLog order by ID"));
        for (; !q->eof(); q->moveNext()) out << q->text(QStringLiteral("Sender"));
        return out;
    }
    std::unique_ptr<Database> m_db;
};

TEST_F(PurgeTest, DateRangeIncludesBothDaysWhole) {
    add(QStringLiteral("a"), QDateTime(QDate(1998, 6, 30), QTime(23, 59, 59)));
    add(QStringLiteral("b"), QDateTime(QDate(1998, 7, 1), QTime(0, 0, 0)));
    add(QStringLiteral("c"), QDateTime(QDate(1998, 7, 31), QTime(23, 59, 59)));
    add(QStringLiteral("d"), QDateTime(QDate(1998, 8, 1), QTime(0, 0, 0)));
    add(QStringLiteral("e"), QDateTime(QDate(1998, 12, 15), QTime(8, 0)));
    add(QStringLiteral("f"), QDateTime(QDate(1999, 1, 5), QTime(23, 0)));
    add(QStringLiteral("g"), QDateTime(QDate(1999, 1, 6), QTime(0, 0)));
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where SentTime>=#07/01/1998 "
                                              "00:00:00# AND SentTime<=#07/31/1998 23:59:59#")),
              2);
    EXPECT_EQ(senders(), (QStringList{"a", "d", "e", "f", "g"}));
    // Across a year end.
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where SentTime>=#12/15/1998 "
                                              "00:00:00# AND SentTime<=#01/05/1999 23:59:59#")),
              2);
    EXPECT_EQ(senders(), (QStringList{"a", "d", "g"}));
}

TEST_F(PurgeTest, SenderPrefixMatchesWithoutCaseAndOnlyAsPrefix) {
    const QDateTime t(QDate(1998, 7, 15), QTime(12, 0));
    for (const char* s :
         {"SMITH", "smithers", "Blacksmith", "SM", "S_MI", "O'BRIEN", "OBRIEN", "100%"})
        add(QString::fromLatin1(s), t);
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where Sender LIKE 'SMI*'")), 2);
    EXPECT_EQ(senders(), (QStringList{"Blacksmith", "SM", "S_MI", "O'BRIEN", "OBRIEN", "100%"}));
    // An apostrophe typed into the sender box is just a character.
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where Sender LIKE 'O'BRIEN*'")),
              1);
    // SQL wildcards in the text match only themselves.
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where Sender LIKE 'S_*'")), 1);
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog where Sender LIKE '100%*'")),
              1);
    EXPECT_EQ(senders(), (QStringList{"Blacksmith", "SM", "OBRIEN"}));
}

TEST_F(PurgeTest, CombinedCriteriaAndWholeLog) {
    add(QStringLiteral("SMI"), QDateTime(QDate(1998, 7, 10), QTime(9, 0)));
    add(QStringLiteral("SMI"), QDateTime(QDate(1998, 8, 10), QTime(9, 0)));
    add(QStringLiteral("JONES"), QDateTime(QDate(1998, 7, 10), QTime(9, 0)));
    EXPECT_EQ(m_db->executeJet(
                  QStringLiteral("delete * from tblLog where SentTime>=#07/01/1998 00:00:00# AND "
                                 "SentTime<=#07/31/1998 23:59:59# AND Sender LIKE 'SMI*'")),
              1);
    EXPECT_EQ(senders().size(), 2);
    EXPECT_EQ(m_db->executeJet(QStringLiteral("delete * from tblLog")), 2);
    EXPECT_TRUE(senders().isEmpty());
}

TEST_F(PurgeTest, StatementsOutsideTheDialectAreRefused) {
    const char* bad[] = {
        "drop table tblLog",
        "delete * from tblLog where Sender LIKE 'A*' ; drop table tblLog",
        "delete * from tblLog where Nothing='x'",
        "delete * from tblNothing",
        "delete * from tblLog where SentTime>=#13/45/1998#",
        "delete * from tblLog where Sender LIKE 'open",
        "delete * from tblLog where Sender LIKE 5",
        "delete * from tblLog where Sender = 'a' OR 1=1",
        "delete * from tblLog where",
    };
    for (const char* s : bad) EXPECT_THROW(m_db->executeJet(QString::fromLatin1(s)), DbError) << s;
    EXPECT_TRUE(m_db->hasTable(QStringLiteral("tblLog")));
}

TEST_F(PurgeTest, IdsAreNeverReusedAfterAPurge) {
    const QDateTime t(QDate(1998, 7, 15), QTime(12, 0));
    add(QStringLiteral("a"), t);
    add(QStringLiteral("b"), t);
    m_db->executeJet(QStringLiteral("delete * from tblLog"));
    m_db.reset();
    m_db = logstore::open(dir());
    auto rs = m_db->openTable(QStringLiteral("tblLog"));
    rs->addNew();
    EXPECT_EQ(rs->int32(QStringLiteral("ID")), 3);
    rs->update();
}

// The stores and their -wal/-shm files are group read-write under the
// service's umask (0007), so operators in the server's group can report and
// purge; a stricter umask still takes its bits away.
TEST(StoreFileModes, BothStoresAndTheirJournalFilesFollowTheUmask) {
    struct Row {
        const char* name;
        mode_t umask;
        unsigned expected;
    };
    const Row rows[] = {
        {"service umask", 0007, 0660},
        {"usual login umask", 0022, 0640},
        {"private umask", 0077, 0600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const mode_t previous = ::umask(row.umask);
        configstore::createNew(dir.filePath(QStringLiteral("VTSCFG.MDB")), dir.filePath("QUEUE"));
        logstore::create(dir.path());
        // Both open at once: the -wal and -shm files exist while a
        // connection holds the store.
        auto config = configstore::open(dir.path());
        auto log = logstore::open(dir.path());
        ::umask(previous);
        for (const char* store : {"VTSCFG.MDB", "VTSLog.mdb"}) {
            for (const char* suffix : {"", "-wal", "-shm"}) {
                const QString file =
                    dir.filePath(QString::fromLatin1(store) + QLatin1String(suffix));
                struct stat st {};
                ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << qPrintable(file);
                EXPECT_EQ(st.st_mode & 07777, row.expected)
                    << qPrintable(file) << " has mode " << std::oct << (st.st_mode & 07777);
            }
        }
    }
}
