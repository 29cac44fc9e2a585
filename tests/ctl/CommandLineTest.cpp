// Every program's command line: an unknown option or an option without its
// value is refused with a usage line on standard error and exit status 2,
// before the program touches a file; vtspage refuses what the server would.
#include "Programs.h"
#include "QueueFile.h"
#include "TestSupport.h"
#include "TextFile.h"

#include <ConfigStore.h>
#include <LogStore.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

namespace vts {
namespace {

struct Refusal {
    const char* name;
    const char* program;
    QStringList args;
    const char* says;  // in the first line on standard error
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

struct Outcome {
    int code = -1;
    QString out, err;
};

Outcome run(const QString& program, const QStringList& args, const QString& workDir,
            QProcessEnvironment env = test::headlessEnv()) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessEnvironment(env);
    p.start(test::binDir() + u'/' + program, args);
    Outcome r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

class CommandLine : public test::TempDirTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(CommandLine, IsRefusedWithUsageAndStatus2BeforeAnythingIsMade) {
    const Refusal& c = GetParam();
    ASSERT_TRUE(QDir(dir()).mkdir(QStringLiteral("queue")));
    const Outcome r = run(QString::fromLatin1(c.program), c.args, dir());
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.section(u'\n', 0, 0).contains(QString::fromLatin1(c.says)))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("usage"), Qt::CaseInsensitive))
        << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(QDir(dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("queue")});
    EXPECT_TRUE(QDir(path(QStringLiteral("queue"))).isEmpty());
}

const QString q = QStringLiteral("queue");
const QString tooLong = QString(31, u'7');

INSTANTIATE_TEST_SUITE_P(
    Programs, CommandLine,
    ::testing::Values(
        Refusal{"MonitorUnknown", "vtsmonitor", {"--bogus"}, "unknown option --bogus"},
        Refusal{"MonitorShort", "vtsmonitor", {"-x"}, "unknown option -x"},
        Refusal{"ConfigUnknown", "vtsconfig", {"--bogus"}, "unknown option --bogus"},
        Refusal{"UpdaterUnknown", "updater", {"--bogus"}, "unknown option --bogus"},
        Refusal{"DialerUnknown", "calvex", {"--bogus"}, "usage: calvex"},
        Refusal{"DialerNoIndex", "calvex", {}, "usage: calvex"},
        Refusal{"ReceiverUnknown", "vtsreceipts", {"--bogus"}, "usage: vtsreceipts"},
        Refusal{"ReceiverNoPort", "vtsreceipts", {}, "usage: vtsreceipts"},
        Refusal{"WebUnknown", "vtsweb", {"--bogus"}, "Unknown option 'bogus'"},
        Refusal{"WebNoConfigValue", "vtsweb", {"--config"}, "Missing value after '--config'"},
        Refusal{"InitShort", "vtsinit", {"-v"}, "unknown option -v"},
        Refusal{"InitUnknown", "vtsinit", {"work", "--bogus"}, "unknown option --bogus"},
        Refusal{"InitNoQueue", "vtsinit", {"work", "--queue"}, "--queue needs a value"},
        Refusal{"PageUnknown", "vtspage", {"--bogus"}, "Unknown option 'bogus'"},
        Refusal{"PageNoQueueValue", "vtspage", {"--queue"}, "Missing value after '--queue'"},
        Refusal{"PageNoText",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2"},
                "no message text"},
        Refusal{"PageBlankText",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", " \n "},
                "no message text"},
        Refusal{"PageMissingFile",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", "--method", "/nonexistent/t.txt"},
                "the text file /nonexistent/t.txt is not a readable file"},
        Refusal{"PageFolderAsFile",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", "--method", "/tmp"},
                "is not a readable file"},
        Refusal{"PageUcp",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", "--method", "UCP", "hi"},
                "UCP"},
        Refusal{"PageLongPhone",
                "vtspage",
                {"--queue", q, "--phone", tooLong, "--pin", "2", "hi"},
                "the phone number is longer than 30 characters"},
        Refusal{"PageLongPin",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", tooLong, "hi"},
                "the PIN is longer than 20 characters"},
        Refusal{"PageLongText",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", QString(16385, u'x')},
                "the message is longer than 16384 characters"},
        Refusal{"PageBadBlock",
                "vtspage",
                {"--queue", q, "--phone", "1", "--pin", "2", "--block-size", "x", "hi"},
                "--block-size takes a number"},
        Refusal{"ReportUnknown", "vtsreport", {"--bogus"}, "Unknown option 'bogus'"},
        Refusal{"ReportNoOutputValue", "vtsreport", {"--output"}, "Missing value after '--output'"},
        Refusal{"ReportStray", "vtsreport", {"-o", "r.csv", "stray"}, "unexpected argument stray"},
        Refusal{"SimUnknown", "pagesim", {"--bogus"}, "Unknown option 'bogus'"},
        Refusal{"GateUnknown", "vtsgate", {"--bogus"}, "Unknown option 'bogus'"},
        Refusal{"GateNoDirValue", "vtsgate", {"--dir"}, "Missing value after '--dir'"},
        Refusal{"SimNoDirValue", "pagesim", {"--dir"}, "Missing value after '--dir'"},
        Refusal{"CtlNoCommand", "vtsctl", {}, "no command given"},
        Refusal{"CtlUnknownCommand", "vtsctl", {"frobnicate"}, "unknown command frobnicate"},
        Refusal{"CtlUnknownOption", "vtsctl", {"pages", "--bogus"}, "unknown option --bogus"},
        Refusal{"CtlNoLimitValue", "vtsctl", {"pages", "--limit"}, "--limit needs a value"},
        Refusal{"CtlBadStatus", "vtsctl", {"pages", "--status", "lost"}, "--status is sent"},
        Refusal{"CtlWhyWithoutId", "vtsctl", {"why"}, "why takes one ID"},
        Refusal{"CtlRetryNoName", "vtsctl", {"pending", "retry"}, "pending retry NAME"},
        Refusal{"CtlPageNoText",
                "vtsctl",
                {"page", "--queue", q, "--phone", "1", "--pin", "2"},
                "vtsctl page: no message text"}),
    [](const auto& info) { return std::string(info.param.name); });

class Programs : public test::TempDirTest {};

TEST_F(Programs, VtspageWritesLineBreaksAsBlanks) {
    ASSERT_TRUE(QDir(dir()).mkdir(QStringLiteral("queue")));
    const Outcome r =
        run(QStringLiteral("vtspage"),
            {QStringLiteral("--queue"), QStringLiteral("queue"), QStringLiteral("--phone"),
             QStringLiteral("1"), QStringLiteral("--pin"), QStringLiteral("2"),
             QStringLiteral("line one\nline two\r\nthree\rfour"), QStringLiteral("five")},
            dir());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString name = r.out.trimmed();
    const auto page = queuefile::parse(text::splitLines(
        text::fromWin1252(readFile(QStringLiteral("queue/") + name)), text::LineEnds::CrOnly));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->message, QStringLiteral("line one line two three four five"));
}

// A program whose work is its windows says at once that there is no display.
TEST_F(Programs, WindowProgramsWithoutADisplaySaySoWithin2Seconds) {
    configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
    QProcessEnvironment env = test::headlessEnv();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const char* program : {"vtsconfig", "updater"}) {
        QElapsedTimer clock;
        clock.start();
        const Outcome r = run(QString::fromLatin1(program), {}, dir(), env);
        EXPECT_LT(clock.elapsed(), 2000) << program;
        EXPECT_EQ(r.code, 1) << program << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("no display"))) << r.err.toStdString();
    }
}

TEST_F(Programs, VtsreportPrintsNoQtNotices) {
    ASSERT_EQ(run(QStringLiteral("vtsinit"), {dir() + QStringLiteral("/w")}, dir()).code, 0);
    logstore::create(dir() + QStringLiteral("/w"));
    QProcessEnvironment env = test::headlessEnv();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const Outcome r =
        run(QStringLiteral("vtsreport"), {QStringLiteral("-o"), QStringLiteral("r.pdf")},
            dir() + QStringLiteral("/w"), env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QString());
}

}  // namespace
}  // namespace vts
