// vtsctl against real stores: the report's criteria over the log (with the
// causes), the configuration program's checks on settings and modems, and
// a purge that deletes nothing until it is told --yes.
#include "ReportTestSupport.h"
#include "TestSupport.h"
#include "VtsCtl.h"

#include <ConfigStore.h>
#include <Database.h>
#include <LogStore.h>
#include <Routes.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>

namespace vts {
namespace {

class VtsCtl : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
        using test::reports::LogRow;
        ids = test::reports::createLog(
            dir(),
            {LogRow{1, "SMITH", "OPS", "BOB", "2026-12-01 10:00:00", "5551234", "one"},
             LogRow{2, "SMITH", "OPS", "ANN", "2026-12-02 10:00:00", "5551234", "two, \"2\""},
             LogRow{2, "JONES", "IT", "BOB", "2026-12-03 10:00:00", "5559999", "three"},
             LogRow{0, "JONES", "IT", "ANN", "2026-12-04 10:00:00", "5559999", "four"}});
        auto log = logstore::open(dir());
        logstore::writeCause(*log, ids[1], QStringLiteral("rejected: 511 No such subscriber"));
    }

    struct Result {
        int code;
        QString out, err;
    };
    Result ctl(const QStringList& args) {
        std::FILE* o = std::tmpfile();
        std::FILE* e = std::tmpfile();
        const int code = ctl::run(args, dir(), {o, e});
        auto read = [](std::FILE* f) {
            std::fflush(f);
            std::rewind(f);
            QByteArray b;
            char buf[4096];
            while (const size_t n = std::fread(buf, 1, sizeof buf, f)) b.append(buf, qsizetype(n));
            std::fclose(f);
            return QString::fromLocal8Bit(b);
        };
        return {code, read(o), read(e)};
    }
    QList<qint64> ids;
};

TEST_F(VtsCtl, PagesTakeTheReportsCriteriaAndShowTheCause) {
    struct Case {
        QStringList args;
        QList<int> rows;  // positions in `ids`
    };
    const Case cases[] = {
        {{}, {0, 1, 2, 3}},
        {{"--status", "failed"}, {1, 2}},
        {{"--status", "pending"}, {3}},
        {{"--status", "sent"}, {0}},
        {{"--sender", "smi"}, {0, 1}},
        {{"--from", "12/02/2026", "--to", "2026-12-03"}, {1, 2}},
        {{"--phone", "5559999"}, {2, 3}},
        {{"--recipient", "ann", "--text", "TWO"}, {1}},
        {{"--limit", "2"}, {0, 1}},
    };
    for (const Case& c : cases) {
        const Result r = ctl(QStringList{"pages", "--json"} + c.args);
        ASSERT_EQ(r.code, 0) << c.args.join(' ').toStdString() << r.err.toStdString();
        const QJsonArray rows = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QList<int> got;
        for (const auto& row : rows) got << int(ids.indexOf(row.toObject()["ID"].toInteger()));
        EXPECT_EQ(got, c.rows) << c.args.join(' ').toStdString();
        for (const auto& row : rows) EXPECT_FALSE(row.toObject().contains("TAPPassword"));
    }
    const Result csv = ctl({"pages", "--csv", "--status", "failed", "--sender", "SMITH"});
    EXPECT_EQ(csv.out.section('\n', 1, 1),
              QStringLiteral("%1,2026-12-02 10:00:00,failed,SMITH,OPS,ANN,5551234,,\"two, "
                             "\"\"2\"\"\",rejected: 511 No such subscriber")
                  .arg(ids[1]));
}

TEST_F(VtsCtl, WhyShowsTheRowItsCauseAndItsCallInTheTrace) {
    writeFile("KRX1.log",
              "12/02/2026 10:00:01.000 -- dialer run for mordax1.dat\n"
              "12/02/2026 10:00:01.001 -- record 2 (slot 1): ID=" +
                  QByteArray::number(ids[0]) +
                  "\n"
                  "12/02/2026 10:00:09.000 -- dialer run for mordax1.dat\n"
                  "12/02/2026 10:00:09.001 -- record 2 (slot 1): ID=" +
                  QByteArray::number(ids[1]) +
                  "\n"
                  "12/02/2026 10:00:09.500 <- 511 No such subscriber<CR>\n");
    const Result r = ctl({"why", QString::number(ids[1])});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Cause:     rejected: 511 No such subscriber"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("<- 511 No such subscriber<CR>")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("10:00:01.001")) << "another call's lines";
    EXPECT_EQ(ctl({"why", "999"}).code, 1);
    EXPECT_EQ(ctl({"why"}).code, 2);
}

TEST_F(VtsCtl, SettingsAreCheckedAsTheConfigurationProgramChecksThem) {
    struct Case {
        const char* name;
        const char* value;
        int code;
    };
    const Case cases[] = {
        {"PMFExpireDays", "-3", 1},
        {"PMFExpireDays", "7", 0},
        {"PMFExpireDays", "seven", 1},
        {"VisualAlert", "yes", 0},
        {"VisualAlert", "maybe", 1},
        {"AlertPIN", "111111111111111111111111111111111111111111111111111", 1},
        {"alertpin", "1234", 0},
        {"SystemPassword", "x", 1},
        {"NoSuchSetting", "1", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ctl({"settings", "set", c.name, c.value}).code, c.code) << c.name << c.value;
    const Result shown = ctl({"settings", "show"});
    EXPECT_TRUE(shown.out.contains("PMFExpireDays = 7\n")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains("VisualAlert = yes\n"));
    EXPECT_TRUE(shown.out.contains("AlertPIN = 1234\n"));
}

TEST_F(VtsCtl, ModemsAreAddedAndRemovedWithTheFormsChecks) {
    EXPECT_EQ(ctl({"modems", "add", "3"}).code, 0);
    EXPECT_EQ(ctl({"modems", "add", "COM3"}).err, "vtsctl: That port already exists\n");
    EXPECT_EQ(ctl({"modems", "add", "33"}).code, 1);
    EXPECT_TRUE(ctl({"modems", "list"}).out.contains("COM3\n"));
    EXPECT_EQ(ctl({"modems", "remove", "COM3"}).code, 0);
    EXPECT_EQ(ctl({"modems", "remove", "3"}).code, 1);
}

TEST_F(VtsCtl, PurgeCountsUntilToldYesThenDeletesRowsAndTheirCauses) {
    const Result dry = ctl({"purge", "--sender", "SMITH"});
    EXPECT_EQ(dry.code, 0);
    EXPECT_TRUE(dry.out.startsWith("2 rows would be deleted")) << dry.out.toStdString();
    EXPECT_EQ(test::reports::logIds(dir()).size(), 4);
    const Result done = ctl({"purge", "--sender", "SMITH", "--yes"});
    EXPECT_EQ(done.code, 0) << done.err.toStdString();
    EXPECT_EQ(test::reports::logIds(dir()), (QList<qint64>{ids[2], ids[3]}));
    auto log = logstore::open(dir());
    EXPECT_EQ(logstore::causeOf(*log, ids[1]), QString());
}

TEST_F(VtsCtl, PageGoesIntoTheStoresQueueFolder) {
    ASSERT_TRUE(QDir(dir()).mkpath("queue"));
    QProcess p;
    p.setWorkingDirectory(dir());
    p.start(test::binDir() + "/vtsctl", {"page", "--phone", "5551234", "--pin", "7", "two\nlines"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString name = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(name.endsWith(".PMF")) << name.toStdString();
    EXPECT_TRUE(readFile("queue/" + name).contains("two lines"));
}

// With the server stopped, vtsctl itself sends a pending or failed file
// back to the queue folder or deletes a file of the three folders; it never
// sends a delivered page again, never replaces a queue file, and takes no
// path for a name.
TEST_F(VtsCtl, PendingRetryAndDeleteMoveOnlyWhatTheyMay) {
    for (const char* sub : {"queue/PENDING", "queue/SENT", "queue/FAILED"})
        ASSERT_TRUE(QDir(dir()).mkpath(sub));
    writeFile("queue/FAILED/A1.PMF", "failed");
    writeFile("queue/PENDING/A2.PMF", "pending");
    writeFile("queue/SENT/A3.PMF", "sent");
    writeFile("queue/FAILED/A4.PMF", "failed copy");
    writeFile("queue/A4.PMF", "queued");
    writeFile("queue/SENT/A5.PMF", "sent");
    struct Case {
        QStringList args;
        int code;
        const char* says;   // on standard output when done, standard error when refused
        const char* gone;   // a file that must be gone, or null
        const char* there;  // a file that must be there (with its own bytes), or null
        QByteArray bytes;
    };
    const Case cases[] = {
        {{"retry", "A1.PMF"},
         0,
         "A1.PMF moved from FAILED",
         "queue/FAILED/A1.PMF",
         "queue/A1.PMF",
         "failed"},
        {{"retry", "A2.PMF"},
         0,
         "A2.PMF moved from PENDING",
         "queue/PENDING/A2.PMF",
         "queue/A2.PMF",
         "pending"},
        {{"retry", "A3.PMF"}, 1, "was sent", nullptr, "queue/SENT/A3.PMF", "sent"},
        {{"retry", "A4.PMF"}, 1, "already in the queue folder", nullptr, "queue/A4.PMF", "queued"},
        {{"delete", "A5.PMF"}, 0, "A5.PMF deleted from SENT", "queue/SENT/A5.PMF", nullptr, {}},
        {{"delete", "A6.PMF"}, 1, "not in the PENDING, FAILED or SENT", nullptr, nullptr, {}},
        {{"delete", "../VTSCFG.MDB"}, 1, "not a file name", nullptr, "VTSCFG.MDB", {}},
        {{"delete", "notes.txt"}, 1, "not a message file", nullptr, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const Result r =
            ctl(QStringList{"pending"} + c.args + QStringList{"--socket", path("no-server.sock")});
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE((c.code == 0 ? r.out : r.err).contains(QString::fromLatin1(c.says)))
            << r.out.toStdString() << r.err.toStdString();
        if (c.gone) {
            EXPECT_FALSE(QFileInfo::exists(path(c.gone)));
        }
        if (c.there) {
            EXPECT_TRUE(QFileInfo::exists(path(c.there)));
        }
        if (c.there && !c.bytes.isEmpty()) {
            EXPECT_EQ(readFile(c.there), c.bytes);
        }
    }
    EXPECT_EQ(readFile("queue/FAILED/A4.PMF"), "failed copy");
}

TEST_F(VtsCtl, PortsAndRoutesAreCheckedAsTheDialerAndThePagerControlReadThem) {
    writeFile("calvex.ini", "[tap]\nt1=2\n[ports]\nCOM2=/dev/ttyUSB0\n");
    EXPECT_EQ(ctl({"ports", "set", "COM1", "snpp:127.0.0.1:444"}).code, 0);
    const Result bad = ctl({"ports", "set", "com3", "tcp:nohost"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_FALSE(bad.err.isEmpty());
    EXPECT_EQ(ctl({"ports", "set", "LPT1", "/dev/ttyS0"}).code, 1);
    const Result list = ctl({"ports", "list"});
    EXPECT_TRUE(list.out.startsWith("COM1=snpp:127.0.0.1:444  (")) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("COM2=/dev/ttyUSB0")) << list.out.toStdString();
    EXPECT_EQ(ctl({"ports", "remove", "COM2"}).code, 0);
    const QByteArray ini = readFile("calvex.ini");
    EXPECT_TRUE(ini.contains("t1=2")) << "other sections are kept";
    EXPECT_FALSE(ini.contains("ttyUSB0"));

    struct Case {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{"set", "555-1111", "com3 , COM1"}, 0, ""},
        {{"set", "5552222", "COM4"}, 0, ""},
        {{"set", "5551111", "COM4,COM2"}, 0, ""},  // replaces, by its digits
        {{"set", "5553333", "COM4, LPT1"}, 1, "LPT1 is not COM1 to COM99"},
        {{"set", "5553333", "COM100"}, 1, "COM100 is not COM1 to COM99"},
        {{"set", "pager", "COM1"}, 1, "pager is not a paging-service number"},
        {{"set", "5553333", " "}, 2, "routes list | set NUMBER"},
        {{"remove", "5559999"}, 1, "no route for 5559999"},
        {{"remove", "5552222"}, 0, ""},
    };
    for (const Case& c : cases) {
        const Result r = ctl(QStringList{"routes"} + c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.says))) << r.err.toStdString();
    }
    EXPECT_EQ(ctl({"routes", "list"}).out, "5551111 = COM4, COM2\n");
    const Routes routes = Routes::load(path("calvex.ini"));
    EXPECT_EQ(routes.routeOf("555 1111"), (QList<int>{4, 2}));
    EXPECT_TRUE(routes.problems().isEmpty());
    EXPECT_TRUE(readFile("calvex.ini").contains("COM1=snpp:127.0.0.1:444"));
}

TEST_F(VtsCtl, ClientsAreAddedEditedAndRemovedAsTheClientPageDoes) {
    EXPECT_EQ(ctl({"clients", "add", " alice ", "--computer", "pc1"}).code, 0);
    const Result twice = ctl({"clients", "add", "ALICE"});
    EXPECT_EQ(twice.code, 1);
    EXPECT_TRUE(twice.err.endsWith("vtsctl: That name already exists\n"))
        << twice.err.toStdString();
    EXPECT_TRUE(ctl({"clients", "list"}).out.contains("ALICE    PC1"))
        << ctl({"clients", "list"}).out.toStdString();
    EXPECT_EQ(ctl({"clients", "edit", "alice", "bob"}).code, 0);
    EXPECT_TRUE(ctl({"clients", "list"}).out.contains("  BOB  "));
    EXPECT_EQ(ctl({"clients", "remove", "BOB"}).code, 0);
    EXPECT_EQ(ctl({"clients", "remove", "BOB"}).code, 1);
}

TEST_F(VtsCtl, PasswordIsReadFromStandardInputWithTheChangePasswordRules) {
    auto set = [this](const QByteArray& input) {
        QProcess p;
        p.setWorkingDirectory(dir());
        p.start(test::binDir() + "/vtsctl", {"password", "set"});
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(10000);
        return p.exitCode();
    };
    EXPECT_EQ(set("secret\n"), 0);
    EXPECT_EQ(ctl({"settings", "show"}).out.contains("SystemPassword = (set)"), true);
    EXPECT_EQ(set("wrong\nnew\n"), 1);
    EXPECT_EQ(set(QByteArray(60, 'x') + "\n"), 1) << "too long, and the old one missing";
    EXPECT_EQ(set("Secret\n" + QByteArray(60, 'x') + "\n"), 1);
    EXPECT_EQ(set("SECRET\nnext\n"), 0);
    EXPECT_FALSE(ctl({"settings", "show"}).out.contains("NEXT"));
}

}  // namespace
}  // namespace vts
