// The stores' files: found in any letter case, never an empty or foreign
// file taken for a store (refused naming the file and what to do, left as
// it was); and the dialer's trace, which stays within its limit.
#include "Dialer.h"
#include "Programs.h"
#include "TestSupport.h"
#include "TraceLog.h"

#include <ConfigStore.h>
#include <Database.h>
#include <LogStore.h>

#include <QDir>
#include <QFileInfo>

namespace vts {
namespace {

class StoreFile : public test::TempDirTest {
protected:
    QStringList files() const { return QDir(dir()).entryList(QDir::Files | QDir::Hidden); }
};

struct Foreign {
    const char* name;
    QByteArray bytes;
    const char* says;
};

TEST_F(StoreFile, EmptyOrForeignFilesAreRefusedNamingTheFileAndLeftAlone) {
    const Foreign cases[] = {
        {"empty", {}, "VTSLog.MDB is empty, not a database: move it away"},
        {"text", "tblLog\n", "VTSLog.MDB is not a database or is damaged: move it away"},
        {"short header", "SQLite format", "VTSLog.MDB is not a database or is damaged"},
        {"zip", QByteArray("PK\x03\x04", 4) + QByteArray(4096, '\0'), "is not a database"},
    };
    for (const Foreign& c : cases) {
        writeFile(QStringLiteral("VTSLog.MDB"), c.bytes);
        try {
            logstore::open(dir());
            ADD_FAILURE() << c.name << ": opened";
        } catch (const db::DbError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.says)))
                << c.name << ": " << e.what();
            EXPECT_EQ(e.file(), path(QStringLiteral("VTSLog.MDB")));
        }
        EXPECT_EQ(readFile(QStringLiteral("VTSLog.MDB")), c.bytes) << c.name;
        EXPECT_EQ(files(), QStringList{QStringLiteral("VTSLog.MDB")}) << c.name;
    }
}

TEST_F(StoreFile, AnEmptyFileBesideItsJournalIsAStoreNotYetCopiedBack) {
    logstore::create(dir());
    {
        auto db = logstore::open(dir());
        db->execute(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        db->execute(QStringLiteral("insert into tblReportInfo (ReportTitle) values ('kept')"));
        // Copy the store aside while its rows are in the journal only.
        QFile::copy(path(QStringLiteral("VTSLog.mdb-wal")), path(QStringLiteral("wal")));
    }
    QFile::remove(path(QStringLiteral("VTSLog.mdb-shm")));
    writeFile(QStringLiteral("VTSLog.mdb"), {});
    QFile::remove(path(QStringLiteral("VTSLog.mdb-wal")));
    QFile::copy(path(QStringLiteral("wal")), path(QStringLiteral("VTSLog.mdb-wal")));
    EXPECT_NO_THROW(logstore::open(dir()));
}

TEST_F(StoreFile, StoresAreFoundInAnyLetterCaseAndMadeUnderTheirNames) {
    logstore::create(dir());
    EXPECT_TRUE(QFileInfo::exists(path(logstore::kCreateName)));
    ASSERT_TRUE(QFile::rename(path(logstore::kCreateName), path(QStringLiteral("vtslog.MDB"))));
    EXPECT_TRUE(logstore::present(dir()));
    EXPECT_TRUE(logstore::open(dir())->hasTable(QStringLiteral("tblLog")));
    configstore::createNew(path(QStringLiteral("vtscfg.mdb")), path(QStringLiteral("queue")));
    EXPECT_TRUE(configstore::present(dir()));
    EXPECT_TRUE(configstore::open(dir())->hasTable(QStringLiteral("tblConfig")));
}

// The server started over an empty log store ends with the reason, and the
// file is not turned into a new, empty store.
TEST_F(StoreFile, ServerRefusesAnEmptyLogStore) {
    configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
    ASSERT_TRUE(QDir(dir()).mkpath(QStringLiteral("queue")));
    writeFile(QStringLiteral("VTSLog.MDB"), {});
    const test::ProgramRun r = [&] {
        QProcess p;
        test::startMonitor(p, dir());
        p.waitForFinished(20000);
        return test::ProgramRun{p.exitCode(),
                                QString::fromLocal8Bit(p.readAll() + p.readAllStandardError())};
    }();
    EXPECT_EQ(r.code, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("VTSLog.MDB is empty, not a database: move it away")))
        << r.out.toStdString();
    EXPECT_EQ(QFileInfo(path(QStringLiteral("VTSLog.MDB"))).size(), 0);
}

TEST(DialerTrace, StaysWithinItsLimitKeepingOneOlderCopy) {
    QTemporaryDir tmp;
    const QString file = tmp.filePath(QStringLiteral("KRX1.log"));
    {
        TraceLog trace;
        trace.setLimit(1);  // raised to the least limit
        ASSERT_TRUE(trace.open(file));
        for (int i = 0; i < 2000; ++i)
            trace.note(QStringLiteral("line %1 ").arg(i) + QString(40, u'x'));
    }
    const QString older = TraceLog::olderCopy(file);
    EXPECT_LE(QFileInfo(file).size(), TraceLog::kMinLimit);
    EXPECT_LE(QFileInfo(older).size(), TraceLog::kMinLimit);
    EXPECT_GT(QFileInfo(older).size(), TraceLog::kMinLimit / 2);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray last = f.readAll();
    EXPECT_TRUE(last.contains("line 1999 ")) << "the newest line is in the trace itself";
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files).size(), 2);
}

TEST(DialerTrace, LimitIsReadFromCalvexIniInKilobytes) {
    QTemporaryDir tmp;
    const QString ini = tmp.filePath(QStringLiteral("calvex.ini"));
    const std::pair<const char*, qint64> cases[] = {
        {"", TraceLog::kDefaultLimit},
        {"[trace]\nlimit=64\n", 64 * 1024},
        {"[trace]\nlimit=1\n", TraceLog::kMinLimit},
        {"[trace]\nlimit=junk\n", TraceLog::kDefaultLimit},
    };
    for (const auto& [text, limit] : cases) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        EXPECT_EQ(DialerOptions::fromIni(ini).traceLimit, limit) << text;
    }
}

}  // namespace
}  // namespace vts
