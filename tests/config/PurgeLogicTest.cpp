#include "Database.h"
#include "DeliveryStore.h"
#include "Dialogs.h"
#include "LogStore.h"
#include "PurgeLogic.h"
#include "ReportTestSupport.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"

#include <QFile>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace vts::report;
using vts::Dialogs;
using vts::ScriptedDialogs;
using vts::test::reports::LogRow;

namespace {

PurgeCriteria range(QDate from, QDate to, const char* sender = "") {
    return {true, from, to, QString::fromUtf8(sender)};
}

TEST(PurgeStatement, IsBuiltAsWritten) {
    EXPECT_EQ(purgeStatement({}), QStringLiteral("delete * from tblLog"));
    EXPECT_EQ(purgeStatement({false, {}, {}, QStringLiteral("SMI")}),
              QStringLiteral("delete * from tblLog where Sender LIKE 'SMI*'"));
    EXPECT_EQ(purgeStatement(range(QDate(1998, 7, 1), QDate(1998, 7, 31), "SMI")),
              QStringLiteral("delete * from tblLog where SentTime>=#07/01/1998 00:00:00# AND "
                             "SentTime<=#07/31/1998 23:59:59# AND Sender LIKE 'SMI*'"));
    EXPECT_EQ(purgeStatement(range(QDate(1998, 12, 15), QDate(1999, 1, 5))),
              QStringLiteral("delete * from tblLog where SentTime>=#12/15/1998 00:00:00# AND "
                             "SentTime<=#01/05/1999 23:59:59#"));
    EXPECT_EQ(purgeCondition({false, {}, {}, QStringLiteral("  ")}), QString());
    EXPECT_EQ(purgeCondition({false, {}, {}, QStringLiteral(" O'BRIEN ")}),
              QStringLiteral("Sender LIKE 'O''BRIEN*'"));
}

class PurgeTest : public vts::test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        seed();
    }
    // A fresh log with the nine rows below.
    void seed() {
        for (const char* name : {"VTSLog.mdb", "VTSLog.mdb-wal", "VTSLog.mdb-shm"})
            QFile::remove(path(name));
        ids = vts::test::reports::createLog(
            dir(), {
                       {1, "SMITH", "", "", "1998-06-30 23:59:59", "", ""},     // 1
                       {1, "SMITHERS", "", "", "1998-07-01 00:00:00", "", ""},  // 2
                       {2, "JONES", "", "", "1998-07-15 12:00:00", "", ""},     // 3
                       {1, "smith", "", "", "1998-07-31 23:59:59", "", ""},     // 4
                       {1, "SMITH", "", "", "1998-08-01 00:00:00", "", ""},     // 5
                       {1, "O'BRIEN", "", "", "1998-12-15 00:00:00", "", ""},   // 6
                       {1, "ADAMS", "", "", "1999-01-05 23:59:59", "", ""},     // 7
                       {1, "ADAMS", "", "", "1999-01-06 00:00:00", "", ""},     // 8
                       {1, "OBRIEN", "", "", "1998-12-14 23:59:59", "", ""},    // 9
                   });
    }
    QList<qint64> left() { return vts::test::reports::logIds(dir()); }

    ScriptedDialogs dialogs;
    PurgeLogic logic{QString(), dialogs};
    QList<qint64> ids;
};

TEST_F(PurgeTest, DeletesExactlyTheMatchingRows) {
    struct Case {
        const char* name;
        PurgeCriteria criteria;
        QList<qint64> remaining;
    };
    const std::vector<Case> cases = {
        {"SenderOnly", {false, {}, {}, QStringLiteral("SMI")}, {3, 6, 7, 8, 9}},
        {"JulyAndSmi", range(QDate(1998, 7, 1), QDate(1998, 7, 31), "SMI"), {1, 3, 5, 6, 7, 8, 9}},
        {"EqualDatesTakeTheWholeDay",
         range(QDate(1998, 7, 31), QDate(1998, 7, 31)),
         {1, 2, 3, 5, 6, 7, 8, 9}},
        {"AcrossTheYear", range(QDate(1998, 12, 15), QDate(1999, 1, 5)), {1, 2, 3, 4, 5, 8, 9}},
        {"Apostrophe", {false, {}, {}, QStringLiteral("O'B")}, {1, 2, 3, 4, 5, 7, 8, 9}},
        {"Everything", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seed();
        {  // every row with a cause and a receipt: those of purged rows go with them
            auto log = vts::logstore::open(dir());
            for (const qint64 id : ids) {
                vts::logstore::writeCause(*log, id, QStringLiteral("c"));
                vts::delivery::noteSubmitted(*log, id, {QStringLiteral("m%1").arg(id)},
                                             QDateTime::currentDateTime());
            }
        }
        dialogs.clear();
        EXPECT_EQ(logic.purge(c.criteria), PurgeLogic::Outcome::Purged);
        EXPECT_EQ(left(), c.remaining);
        QList<qint64> causes;
        auto rs = vts::logstore::open(dir())->openQuery(
            QStringLiteral("SELECT ID FROM tblCause ORDER BY ID"), {});
        for (; !rs->eof(); rs->moveNext()) causes << rs->int32(QStringLiteral("ID"));
        EXPECT_EQ(causes, c.remaining);
        QList<qint64> receipts;
        auto rd = vts::logstore::open(dir())->openQuery(
            QStringLiteral("SELECT DISTINCT ID FROM tblDelivery ORDER BY ID"), {});
        for (; !rd->eof(); rd->moveNext()) receipts << rd->int32(QStringLiteral("ID"));
        EXPECT_EQ(receipts, c.remaining);
        ASSERT_EQ(dialogs.shown().size(), 2u);
        EXPECT_EQ(dialogs.shown()[1].text, QStringLiteral("Purging completed"));
        EXPECT_EQ(dialogs.shown()[1].title, QString());
        EXPECT_EQ(dialogs.shown()[1].icon, Dialogs::Icon::Information);
        EXPECT_EQ(logic.lastDeleted(), 9 - c.remaining.size());
    }
}

TEST_F(PurgeTest, AsksTheRightQuestionAndNoDeletesNothing) {
    dialogs.queueAnswer(Dialogs::Answer::No);
    EXPECT_EQ(logic.purge({false, {}, {}, QStringLiteral("   ")}), PurgeLogic::Outcome::Declined);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text,
              QStringLiteral("Not selecting any criteria will purge the entire log!"));
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Warning!!!"));
    EXPECT_EQ(dialogs.shown()[0].buttons, Dialogs::Buttons::YesNo);
    // Enter alone must not empty the log: No is the default of both questions.
    EXPECT_EQ(dialogs.shown()[0].defaultButton, Dialogs::Answer::No);

    dialogs.clear();
    dialogs.queueAnswer(Dialogs::Answer::No);
    EXPECT_EQ(logic.purge({false, {}, {}, QStringLiteral("SMI")}), PurgeLogic::Outcome::Declined);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text,
              QStringLiteral("Are you sure you want to purge the messages from the log?"));
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Confirmation"));
    EXPECT_EQ(dialogs.shown()[0].defaultButton, Dialogs::Answer::No);
    EXPECT_EQ(left().size(), 9);
}

TEST_F(PurgeTest, FromAfterToIsRefusedBeforeAnyQuestion) {
    EXPECT_EQ(logic.purge(range(QDate(1998, 7, 2), QDate(1998, 7, 1))),
              PurgeLogic::Outcome::DateError);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("The FROM date is later than the TO date"));
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
    EXPECT_EQ(left().size(), 9);
}

TEST_F(PurgeTest, StoreErrorsAreShownAndDeleteNothing) {
    // A read-only log.
    const QByteArray file = QFile::encodeName(path(QStringLiteral("VTSLog.mdb")));
    ASSERT_EQ(::chmod(file.constData(), 0444), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(logic.purge({false, {}, {}, QStringLiteral("SMI")}), PurgeLogic::Outcome::Failed);
        ASSERT_EQ(dialogs.shown().size(), 2u);
        EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("Error"));
        EXPECT_EQ(dialogs.shown()[1].icon, Dialogs::Icon::Critical);
    }
    ASSERT_EQ(::chmod(file.constData(), 0644), 0);
    EXPECT_EQ(left().size(), 9);

    // A damaged log.
    dialogs.clear();
    QFile::remove(path(QStringLiteral("VTSLog.mdb-wal")));
    QFile::remove(path(QStringLiteral("VTSLog.mdb-shm")));
    writeFile(QStringLiteral("VTSLog.mdb"), QByteArray(8192, 'x'));
    EXPECT_EQ(logic.purge({false, {}, {}, QStringLiteral("SMI")}), PurgeLogic::Outcome::Failed);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_TRUE(
        dialogs.shown()[1].text.startsWith(QStringLiteral("The log could not be purged: ")));

    // No log at all.
    dialogs.clear();
    QFile::remove(path(QStringLiteral("VTSLog.mdb")));
    EXPECT_EQ(logic.purge({}), PurgeLogic::Outcome::Failed);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("VTSLog.mdb"))));
}

TEST_F(PurgeTest, PurgeWhileAnotherConnectionWritesRemovesOnlyMatches) {
    // The server keeps the log open and writes while the purge runs.
    auto server = vts::logstore::open(dir());
    vts::test::reports::addRow(*server, {0, "SMITH", "", "", "1998-07-10 00:00:00", "", ""});  // 10
    dialogs.queueAnswer(Dialogs::Answer::Yes);
    EXPECT_EQ(logic.purge(range(QDate(1998, 7, 1), QDate(1998, 7, 31), "SMI")),
              PurgeLogic::Outcome::Purged);
    vts::test::reports::addRow(*server, {0, "SMITH", "", "", "1998-07-11 00:00:00", "", ""});  // 11
    EXPECT_EQ(left(), (QList<qint64>{1, 3, 5, 6, 7, 8, 9, 11}));
}

}  // namespace
