#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "LogStore.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace vts;
using db::DbError;

namespace {

// "name type" of each column, straight from the file.
QStringList columns(const QString& file, const QString& table) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    QStringList out;
    sqlite3_prepare_v2(h, "SELECT name, type FROM pragma_table_info(?)", -1, &st, nullptr);
    const QByteArray t = table.toUtf8();
    sqlite3_bind_text(st, 1, t.constData(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW)
        out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) +
                   QLatin1Char(' ') +
                   QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

QString logWriter() { return test::binDir() + QStringLiteral("/vts_logwriter"); }

}  // namespace

class ConfigStoreTest : public test::TempDirTest {};

TEST_F(ConfigStoreTest, PresenceCheckIgnoresCaseAndFolders) {
    EXPECT_FALSE(configstore::present(dir()));
    QDir().mkpath(path(QStringLiteral("VTSCFG.MDB")));  // a folder of that name is no store
    EXPECT_FALSE(configstore::present(dir()));
    QDir().rmdir(path(QStringLiteral("VTSCFG.MDB")));
    writeFile(QStringLiteral("vtscfg.mdb"), "");
    EXPECT_TRUE(configstore::present(dir()));
}

TEST_F(ConfigStoreTest, MissingStoreMessage) {
    ScriptedDialogs dialogs;
    configstore::showMissing(dialogs);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const auto& box = dialogs.shown().front();
    EXPECT_EQ(box.text,
              QStringLiteral("Cannot find the VTSCFG.MDB file.  The program cannot continue until "
                             "this file is in the working directory"));
    EXPECT_EQ(box.title, QStringLiteral("Vantrel Server"));
    EXPECT_EQ(box.icon, Dialogs::Icon::Critical);
    EXPECT_EQ(box.buttons, Dialogs::Buttons::Ok);
    EXPECT_TRUE(QDir(dir()).isEmpty());
}

TEST_F(ConfigStoreTest, NewStoreHoldsOneCompleteSettingsRow) {
    configstore::createNew(path(QStringLiteral("VTSCFG.MDB")), path(QStringLiteral("QUEUE")));
    EXPECT_TRUE(configstore::present(dir()));
    auto db = configstore::open(dir());
    auto rs = db->openTable(QStringLiteral("tblConfig"));
    ASSERT_FALSE(rs->eof());
    const QStringList fields = rs->fieldNames();
    ASSERT_EQ(fields.size(), 24);
    EXPECT_EQ(fields.first(), QStringLiteral("CheckTime"));
    EXPECT_EQ(fields.at(9), QStringLiteral("ALertByEMail"));
    EXPECT_EQ(fields.last(), QStringLiteral("AutoLogoutMinutes"));
    for (const QString& f : fields) EXPECT_FALSE(rs->isNull(f)) << f.toStdString();
    EXPECT_EQ(rs->int32(QStringLiteral("CheckTime")), 0);
    EXPECT_EQ(rs->int32(QStringLiteral("NumberOfRetries")), 3);
    EXPECT_EQ(rs->int32(QStringLiteral("PMFExpireDays")), 30);
    EXPECT_EQ(rs->text(QStringLiteral("SystemPassword")), QString());
    EXPECT_EQ(rs->int32(QStringLiteral("alertbyemail")), 0);
    EXPECT_EQ(rs->value(QStringLiteral("EnableLoginPassword")), QVariant(false));
    EXPECT_EQ(rs->text(QStringLiteral("MessageQueueLocation")), path(QStringLiteral("QUEUE")));
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    EXPECT_TRUE(db->openTable(QStringLiteral("tblModems"))->isEmpty());
    EXPECT_TRUE(db->openTable(QStringLiteral("tblClients"))->isEmpty());
    EXPECT_THROW(configstore::createNew(path(QStringLiteral("vtscfg.mdb")), dir()), DbError);
}

TEST_F(ConfigStoreTest, EditorEncodingsRoundTrip) {
    configstore::createNew(path(QStringLiteral("VTSCFG.MDB")), dir());
    {
        auto db = configstore::open(dir());
        auto rs = db->openTable(QStringLiteral("tblConfig"));
        rs->edit();
        rs->setValue(QStringLiteral("AlertByPage"), 1);  // the editor writes 1 for a ticked box
        rs->setValue(QStringLiteral("VisualAlert"), 0);
        rs->setValue(QStringLiteral("AudioAlert"), QVariant());
        rs->setValue(QStringLiteral("CheckTime"), 7);
        rs->setValue(QStringLiteral("NumberOfRetries"), -1);
        rs->setValue(QStringLiteral("PMFExpireDays"), QStringLiteral("45"));
        rs->setValue(QStringLiteral("AutoLogoutMinutes"), QStringLiteral(""));
        rs->setValue(QStringLiteral("AlertPIN"), QVariant());
        EXPECT_THROW(rs->setValue(QStringLiteral("PMFExpireDays"), QStringLiteral("ten")), DbError);
        EXPECT_THROW(rs->setValue(QStringLiteral("Speaker"), 70000), DbError);
        rs->update();
    }
    auto db = configstore::open(dir());
    auto rs = db->openTable(QStringLiteral("tblConfig"));
    EXPECT_EQ(rs->int32(QStringLiteral("AlertByPage")), -1);
    EXPECT_TRUE(rs->value(QStringLiteral("AlertByPage")).toBool());
    EXPECT_FALSE(rs->value(QStringLiteral("VisualAlert")).toBool());
    EXPECT_TRUE(rs->isNull(QStringLiteral("AudioAlert")));
    EXPECT_EQ(rs->int32(QStringLiteral("AudioAlert")), 0);
    EXPECT_EQ(rs->int32(QStringLiteral("CheckTime")), 7);
    EXPECT_EQ(rs->int32(QStringLiteral("NumberOfRetries")), -1);
    EXPECT_EQ(rs->int32(QStringLiteral("PMFExpireDays")), 45);
    EXPECT_TRUE(rs->isNull(QStringLiteral("AutoLogoutMinutes")));
    EXPECT_EQ(rs->text(QStringLiteral("AlertPIN")), QString());
}

TEST_F(ConfigStoreTest, LookupsIgnoreCase) {
    configstore::createNew(path(QStringLiteral("VTSCFG.MDB")), dir());
    auto db = configstore::open(dir());
    auto clients = db->openTable(QStringLiteral("tblClients"));
    clients->addNew();
    EXPECT_EQ(clients->int32(QStringLiteral("ID")), 1);
    clients->setValue(QStringLiteral("ComputerName"), QStringLiteral("WS01"));
    clients->setValue(QStringLiteral("Name"), QStringLiteral("SMITH"));
    clients->update();
    EXPECT_TRUE(clients->findFirst(QStringLiteral("ComputerName"), QStringLiteral("ws01")));
    EXPECT_TRUE(clients->findFirst(QStringLiteral("name"), QStringLiteral("Smith")));
    auto modems = db->openTable(QStringLiteral("tblModems"));
    for (const char* p : {"COM5", "COM05"}) {
        modems->addNew();
        modems->setValue(QStringLiteral("ComPort"), QString::fromLatin1(p));
        modems->update();
    }
    ASSERT_TRUE(modems->findFirst(QStringLiteral("ComPort"), QStringLiteral("com05")));
    EXPECT_EQ(modems->text(QStringLiteral("ComPort")), QStringLiteral("COM05"));
}

class LogStoreTest : public test::TempDirTest {};

TEST_F(LogStoreTest, CreatedWithFieldsInOrderAndAnEmptyReportTable) {
    EXPECT_FALSE(logstore::present(dir()));
    logstore::create(dir());
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("VTSLog.mdb"))));
    EXPECT_TRUE(logstore::present(dir()));
    const QString file = path(QStringLiteral("VTSLog.mdb"));
    EXPECT_EQ(columns(file, QStringLiteral("tblLog")), (QStringList{"ID INTEGER",
                                                                    "Status LONG",
                                                                    "StatusDescription TEXT(100)",
                                                                    "Type TEXT(255)",
                                                                    "Sender TEXT(30)",
                                                                    "Department TEXT(50)",
                                                                    "Recipient TEXT(30)",
                                                                    "SentTime DATETIME",
                                                                    "TAPPhoneNumber TEXT(50)",
                                                                    "TAPPIN TEXT(20)",
                                                                    "TAPPassword TEXT(20)",
                                                                    "MaximumCharacters LONG",
                                                                    "COMPortSetting TEXT(20)",
                                                                    "ModemInitString TEXT(30)",
                                                                    "ModemDialString TEXT(30)",
                                                                    "EMailAddress TEXT(50)",
                                                                    "SMTPServer TEXT(50)",
                                                                    "ReverseOrder YESNO",
                                                                    "UniqueID TEXT(255)",
                                                                    "Message LONGTEXT"}));
    EXPECT_EQ(columns(file, QStringLiteral("tblReportInfo")),
              (QStringList{"ReportTitle TEXT(255)", "FilterTitle TEXT(255)"}));
    auto db = logstore::open(dir());
    EXPECT_TRUE(db->openTable(QStringLiteral("tblReportInfo"))->isEmpty());
    auto idx = db->openQuery(
        QStringLiteral("select name from sqlite_master where type='index' and name='Status'"));
    EXPECT_FALSE(idx->eof());
    EXPECT_THROW(logstore::create(dir()), DbError);
}

TEST_F(LogStoreTest, OldCopyIsRemovedAndTheLogLeftAlone) {
    logstore::create(dir());
    const QByteArray before = readFile(QStringLiteral("VTSLog.mdb"));
    writeFile(QStringLiteral("vtslog.OLD"), "old");
    logstore::removeOldCopy(dir());
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("vtslog.OLD"))));
    EXPECT_EQ(readFile(QStringLiteral("VTSLog.mdb")), before);
    logstore::removeOldCopy(dir());  // nothing there: no error
    logstore::removeOldCopy(path(QStringLiteral("missing")));
}

TEST_F(LogStoreTest, FirstRowIsOneAndFieldsAreCheckedAgainstTheirWidths) {
    logstore::create(dir());
    auto db = logstore::open(dir());
    auto rs = db->openTable(QStringLiteral("tblLog"));
    rs->addNew();
    EXPECT_EQ(rs->int32(QStringLiteral("ID")), 1);
    EXPECT_THROW(rs->setValue(QStringLiteral("Sender"), QString(31, QLatin1Char('s'))), DbError);
    EXPECT_THROW(rs->setValue(QStringLiteral("SentTime"), QStringLiteral("13/13/1998")), DbError);
    rs->setValue(QStringLiteral("Sender"), QString(30, QLatin1Char('s')));
    rs->setValue(QStringLiteral("Type"),
                 QStringLiteral("C:\\VT\\PAGES\\") + QString(200, QLatin1Char('x')));
    rs->setValue(QStringLiteral("Status"), 2);
    rs->setValue(QStringLiteral("StatusDescription"), QStringLiteral(""));
    rs->setValue(QStringLiteral("ReverseOrder"), 5);
    rs->update();
    auto row = db->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), 1);
    EXPECT_EQ(row->int32(QStringLiteral("Status")), 2);
    EXPECT_FALSE(row->isNull(QStringLiteral("StatusDescription")));
    EXPECT_EQ(row->text(QStringLiteral("StatusDescription")), QString());
    EXPECT_EQ(row->int32(QStringLiteral("ReverseOrder")), -1);
}

TEST_F(LogStoreTest, TwoProcessesWritingAtOnceLoseNoRow) {
    logstore::create(dir());
    // This process keeps the store and a table record set open, as the
    // server does, while two others write.
    auto db = logstore::open(dir());
    auto held = db->openTable(QStringLiteral("tblLog"));
    constexpr int kRows = 300;
    QProcess a, b;
    a.start(logWriter(),
            {QStringLiteral("add"), dir(), QString::number(kRows), QStringLiteral("A")});
    b.start(logWriter(),
            {QStringLiteral("add"), dir(), QString::number(kRows), QStringLiteral("B")});
    // Meanwhile this process adds rows of its own.
    for (int i = 0; i < 20; ++i) {
        held->addNew();
        held->setValue(QStringLiteral("Sender"), QStringLiteral("C"));
        held->update();
    }
    ASSERT_TRUE(a.waitForFinished(60000));
    ASSERT_TRUE(b.waitForFinished(60000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    auto q =
        db->openQuery(QStringLiteral("select Sender, count(*) as n, count(distinct UniqueID) as u "
                                     "from tblLog group by Sender order by Sender"));
    ASSERT_FALSE(q->eof());
    EXPECT_EQ(q->text(QStringLiteral("Sender")), QStringLiteral("A"));
    EXPECT_EQ(q->int32(QStringLiteral("n")), kRows);
    EXPECT_EQ(q->int32(QStringLiteral("u")), kRows);
    q->moveNext();
    EXPECT_EQ(q->text(QStringLiteral("Sender")), QStringLiteral("B"));
    EXPECT_EQ(q->int32(QStringLiteral("n")), kRows);
    q->moveNext();
    EXPECT_EQ(q->int32(QStringLiteral("n")), 20);
    auto ids = db->openQuery(
        QStringLiteral("select min(ID) as lo, max(ID) as hi, count(*) as n from tblLog"));
    EXPECT_EQ(ids->int32(QStringLiteral("lo")), 1);
    EXPECT_EQ(ids->int32(QStringLiteral("hi")), 2 * kRows + 20);
    EXPECT_EQ(ids->int32(QStringLiteral("n")), 2 * kRows + 20);
}

TEST_F(LogStoreTest, AWriteWaitsForAnotherProcessBrieflyHoldingTheLock) {
    logstore::create(dir());
    QProcess holder;
    holder.start(logWriter(), {QStringLiteral("hold"), dir(), QStringLiteral("700")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("locked"));
    auto db = logstore::open(dir());
    auto rs = db->openTable(QStringLiteral("tblLog"));
    QElapsedTimer t;
    t.start();
    rs->addNew();  // waits until the other process lets go
    rs->setValue(QStringLiteral("Status"), 0);
    rs->update();
    EXPECT_GE(t.elapsed(), 300);
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitCode(), 0);
    EXPECT_FALSE(db->openTable(QStringLiteral("tblLog"))->isEmpty());
}

TEST_F(LogStoreTest, ALockHeldPastTheTimeOutGivesAnErrorNamingTheFile) {
    logstore::create(dir());
    QProcess holder;
    holder.start(logWriter(), {QStringLiteral("hold"), dir(), QStringLiteral("8000")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    auto db = logstore::open(dir());
    auto rs = db->openTable(QStringLiteral("tblLog"));
    try {
        rs->addNew();
        FAIL() << "no error while another process holds the lock";
    } catch (const DbError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("locked"))) << e.what();
        EXPECT_EQ(e.file(), path(QStringLiteral("VTSLog.mdb")));
    }
    // Reading is not blocked by the writer.
    EXPECT_TRUE(db->openTable(QStringLiteral("tblLog"))->isEmpty());
    holder.kill();
    holder.waitForFinished(10000);
    // Once the other process is gone, writing works again.
    rs->addNew();
    rs->update();
    EXPECT_FALSE(rs->isEmpty());
}
