#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace vts;

namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    Outcome r;
    if (!p.waitForFinished(30000)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Outcome vtsinit(const QStringList& args) {
    return run(test::binDir() + QStringLiteral("/vtsinit"), args);
}

}  // namespace

class VtsInitTest : public test::TempDirTest {
protected:
    // Asks the sqlite3 shell, a program that knows nothing of ours.
    QString shell(const QString& file, const QString& sql) {
        const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (sqlite.isEmpty()) return QStringLiteral("<no sqlite3 shell>");
        return run(sqlite, {file, sql}).out.trimmed();
    }
};

TEST_F(VtsInitTest, MakesAWorkingDirectoryTheSqliteShellSees) {
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        GTEST_SKIP() << "no sqlite3 shell";
    const Outcome r =
        vtsinit({QStringLiteral("work"), QStringLiteral("--modem"), QStringLiteral("1"),
                 QStringLiteral("--modem"), QStringLiteral("3")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString work = path(QStringLiteral("work"));
    for (const char* sub : {"QUEUE", "QUEUE/PENDING", "QUEUE/SENT", "QUEUE/FAILED"})
        EXPECT_TRUE(QFileInfo(work + QLatin1Char('/') + QLatin1String(sub)).isDir()) << sub;
    EXPECT_TRUE(r.out.contains(QStringLiteral("VTSCFG.MDB")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("COM3")));

    const QString store = work + QStringLiteral("/VTSCFG.MDB");
    EXPECT_EQ(shell(store, QStringLiteral(".tables")).simplified(),
              QStringLiteral("tblClients tblConfig tblModems"));
    EXPECT_EQ(
        shell(store,
              QStringLiteral("select group_concat(name, ',') from pragma_table_info('tblConfig')")),
        QStringLiteral(
            "CheckTime,DialingDelay,DelayBeforeRetries,NumberOfRetries,SystemPassword,"
            "MessageQueueLocation,AlertByPage,AlertPIN,AlertAlphaPhoneNumber,ALertByEMail,"
            "AlertEMailAddress,AlertSMTPServer,AlertPagePassword,AlertPagerEMailAddress,"
            "VisualAlert,AudioAlert,AtIntervalsTime,Speaker,TimeOut,PageFailAlert,"
            "ModemFailAlert,PMFExpireDays,EnableLoginPassword,AutoLogoutMinutes"));
    EXPECT_EQ(
        shell(store,
              QStringLiteral("select group_concat(name, ',') from pragma_table_info('tblModems')")),
        QStringLiteral("ComPort"));
    EXPECT_EQ(
        shell(store, QStringLiteral(
                         "select group_concat(name, ',') from pragma_table_info('tblClients')")),
        QStringLiteral("ID,Name,Path,ComputerName"));
    EXPECT_EQ(shell(store, QStringLiteral("select count(*) from tblConfig")), QStringLiteral("1"));
    // Every field of the settings row holds a value.
    EXPECT_EQ(
        shell(
            store,
            QStringLiteral(
                "select count(*) from tblConfig where CheckTime is null or DialingDelay is null or "
                "DelayBeforeRetries is null or NumberOfRetries is null or SystemPassword is null "
                "or "
                "MessageQueueLocation is null or AlertByPage is null or AlertPIN is null or "
                "AlertAlphaPhoneNumber is null or ALertByEMail is null or AlertEMailAddress is "
                "null or "
                "AlertSMTPServer is null or AlertPagePassword is null or AlertPagerEMailAddress is "
                "null "
                "or VisualAlert is null or AudioAlert is null or AtIntervalsTime is null or "
                "Speaker is "
                "null or TimeOut is null or PageFailAlert is null or ModemFailAlert is null or "
                "PMFExpireDays is null or EnableLoginPassword is null or AutoLogoutMinutes is "
                "null")),
        QStringLiteral("0"));
    EXPECT_EQ(
        shell(store, QStringLiteral(
                         "select CheckTime, NumberOfRetries, PMFExpireDays, EnableLoginPassword, "
                         "SystemPassword, AlertByPage, ALertByEMail, VisualAlert, AudioAlert, "
                         "PageFailAlert, ModemFailAlert from tblConfig")),
        QStringLiteral("0|3|30|0||0|0|0|0|0|0"));
    EXPECT_EQ(shell(store, QStringLiteral("select MessageQueueLocation from tblConfig")),
              work + QStringLiteral("/QUEUE"));
    EXPECT_EQ(shell(store, QStringLiteral("select group_concat(ComPort, ',') from tblModems")),
              QStringLiteral("COM1,COM3"));
    EXPECT_EQ(shell(store, QStringLiteral("select count(*) from tblClients")), QStringLiteral("0"));
}

TEST_F(VtsInitTest, RefusesToTouchAnExistingStore) {
    ASSERT_EQ(vtsinit({QStringLiteral("work")}).code, 0);
    const QString store = path(QStringLiteral("work/VTSCFG.MDB"));
    const QByteArray before = readFile(QStringLiteral("work/VTSCFG.MDB"));
    const Outcome again =
        vtsinit({QStringLiteral("work"), QStringLiteral("--modem"), QStringLiteral("2")});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("already holds a configuration store")))
        << again.err.toStdString();
    EXPECT_EQ(readFile(QStringLiteral("work/VTSCFG.MDB")), before);

    // Another spelling of the name counts as well.
    writeFile(QStringLiteral("other/vtscfg.mdb"), "x");
    EXPECT_EQ(vtsinit({QStringLiteral("other")}).code, 1);
    EXPECT_EQ(readFile(QStringLiteral("other/vtscfg.mdb")), QByteArray("x"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("other/QUEUE"))));
}

TEST_F(VtsInitTest, AnotherQueueFolderIsStoredAsAnAbsolutePath) {
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        GTEST_SKIP() << "no sqlite3 shell";
    const Outcome r =
        vtsinit({QStringLiteral("work"), QStringLiteral("--queue"), QStringLiteral("shared/q")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("shared/q/FAILED"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("work/QUEUE"))));
    EXPECT_EQ(shell(path(QStringLiteral("work/VTSCFG.MDB")),
                    QStringLiteral("select MessageQueueLocation from tblConfig")),
              path(QStringLiteral("shared/q")));
}

TEST_F(VtsInitTest, BadArgumentsChangeNothing) {
    const QStringList bad[] = {
        {},
        {QStringLiteral("w"), QStringLiteral("--modem"), QStringLiteral("0")},
        {QStringLiteral("w"), QStringLiteral("--modem"), QStringLiteral("33")},
        {QStringLiteral("w"), QStringLiteral("--modem"), QStringLiteral("x")},
        {QStringLiteral("w"), QStringLiteral("--modem"), QStringLiteral("2"),
         QStringLiteral("--modem"), QStringLiteral("2")},
        {QStringLiteral("w"), QStringLiteral("--modem")},
        {QStringLiteral("w"), QStringLiteral("--queue"), QStringLiteral(" ")},
        {QStringLiteral("w"), QStringLiteral("v")},
        {QStringLiteral("w"), QStringLiteral("--colour")},
    };
    for (const QStringList& args : bad) {
        const Outcome r = vtsinit(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("usage"))) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("w"))));
}
