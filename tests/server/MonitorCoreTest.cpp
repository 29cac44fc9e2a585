// The server's start-up, queue checks, results and exit in virtual time,
// against real stores and a real pager control with a stand-in dialer.
#include "ScriptedDialogs.h"
#include "ServerTestSupport.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "LogStore.h"
#include "PagerOCX.h"
#include "StatusListModel.h"
#include "Statuses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace vts;
using namespace vts::test;

namespace {

class MonitorCoreTest : public ServerTest {};

TEST_F(MonitorCoreTest, MissingConfigurationStoreEndsWithoutTouchingAnyFile) {
    QFile::remove(path(configstore::kFileName));
    EXPECT_FALSE(startCore());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, configstore::kMissingText);
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Vantrel Server"));
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
    EXPECT_FALSE(logstore::present(dir()));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("vtsmonitor.lock"))));
}

// The start-up window's work on the log store and the dialer's trace logs,
// with and without a log store and a KRX?.log of an earlier run.
struct StartCase {
    const char* name;
    bool logExists;
    bool krxLog;  // KRX1.log beside KRXOCX1.log
    const char* label;
};

class StartUpTest : public ServerTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartUpTest, PreparesTheLogAndClearsTraceLogsOnlyWhenKrxLogExists) {
    const StartCase& c = GetParam();
    if (c.logExists) {
        logstore::create(dir());
        writeFile(QStringLiteral("VTSLog.old"), "old");
    }
    if (c.krxLog) {
        writeFile(QStringLiteral("KRX1.log"), "x");
    }
    writeFile(QStringLiteral("KRXOCX1.log"), "y");
    ASSERT_TRUE(startCore());
    EXPECT_TRUE(logstore::present(dir()));
    EXPECT_TRUE(view.events.contains(QStringLiteral("label:") + QString::fromLatin1(c.label)));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("VTSLog.old"))));
    EXPECT_EQ(QFileInfo::exists(path(QStringLiteral("KRX1.log"))), c.krxLog);
    EXPECT_EQ(QFileInfo::exists(path(QStringLiteral("KRXOCX1.log"))), !c.krxLog);
    EXPECT_EQ(statusTexts(), QStringList{QStringLiteral("Vantrel Server started")});
    EXPECT_TRUE(core().timer1().isActive());
    EXPECT_FALSE(core().timer2().isActive());
    // Pager1 carries the saved form's values.
    EXPECT_EQ(core().pager()->WindowState(), 1);
    EXPECT_EQ(core().pager()->GroupTimeWindow(), 5);
    EXPECT_EQ(core().pager()->DialingDelay(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    LogAndTraceLogs, StartUpTest,
    ::testing::Values(StartCase{"FirstStart", false, true, "Creating a new log file..."},
                      StartCase{"SecondStartWithoutKrxLog", true, false, "Compacting Log..."}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(MonitorCoreTest, SecondCopyInTheSameFolderIsRefused) {
    ASSERT_TRUE(startCore());
    ScriptedDialogs otherDialogs;
    RecordingView otherView;
    MonitorCore::Options o;
    o.workingDir = dir();
    MonitorCore second(loop, otherDialogs, launcher, otherView, sound, mailer, o);
    EXPECT_FALSE(second.start());
    ASSERT_EQ(otherDialogs.shown().size(), 1u);
    EXPECT_EQ(otherDialogs.shown()[0].text, QStringLiteral("Vantrel Server is already running"));
    EXPECT_EQ(otherDialogs.shown()[0].title, QStringLiteral("Error"));
}

TEST_F(MonitorCoreTest, TapPageIsLoggedSubmittedSentAndMoved) {
    QueueLines q;
    q.sender = QStringLiteral("  ALICE  ");
    q.body = {QStringLiteral(" Hello"), QStringLiteral("World ")};
    writeQueueFile(QStringLiteral("A0001.PMF"), q.lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_TRUE(hasStatus(QStringLiteral("New client added - Computer:PC-ONE")));
    EXPECT_TRUE(hasStatus(QStringLiteral("Submitted to queue: Ph#=5551234 PIN=1001 ID=1")));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A0001.PMF")});
    QVariantMap row = logRow(1);
    EXPECT_EQ(row.value(QStringLiteral("Status")).toInt(), 0);
    EXPECT_EQ(row.value(QStringLiteral("StatusDescription")).toString(), QStringLiteral("PENDING"));
    EXPECT_EQ(row.value(QStringLiteral("Sender")).toString(), QStringLiteral("ALICE"));
    EXPECT_EQ(row.value(QStringLiteral("Message")).toString(), QStringLiteral("HelloWorld"));
    EXPECT_EQ(row.value(QStringLiteral("UniqueID")).toString(), QStringLiteral("A0001.PMF"));
    EXPECT_EQ(row.value(QStringLiteral("MaximumCharacters")).toInt(), 80);
    EXPECT_EQ(row.value(QStringLiteral("SentTime")).toDateTime(),
              QDateTime(QDate(2026, 7, 15), QTime(10, 30)));

    run(12);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].messages.size(), 1u);
    EXPECT_EQ(conv::trim(runs[0].messages[0].uniqueId), QStringLiteral("1"));
    EXPECT_EQ(conv::trim(runs[0].messages[0].message), QStringLiteral("HelloWorld"));
    EXPECT_EQ(toInt(runs[0].messages[0].kind), 0);
    EXPECT_TRUE(hasStatus(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001 ID=1")));
    row = logRow(1);
    EXPECT_EQ(row.value(QStringLiteral("Status")).toInt(), 1);
    EXPECT_EQ(row.value(QStringLiteral("StatusDescription")).toString(), QString());
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("A0001.PMF")});
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
}

TEST_F(MonitorCoreTest, ThreePagesForOneNumberTravelInOneCall) {
    for (const char* n : {"A1.PMF", "A2.PMF", "A3.PMF"}) {
        writeQueueFile(QString::fromLatin1(n), QueueLines().lines());
    }
    ASSERT_TRUE(startCore());
    run(15);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].messages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(conv::trim(runs[0].messages[static_cast<size_t>(i)].uniqueId),
                  QString::number(i + 1));
    }
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 3);
    EXPECT_EQ(logRowCount(), 3);
    EXPECT_EQ(clientCount(), 1);  // one computer, registered once
}

TEST_F(MonitorCoreTest, FileNamesAndMethodsDecideWhatIsReadAndHowItIsSent) {
    QueueLines lower;
    lower.method = QStringLiteral("tap");
    writeQueueFile(QStringLiteral("a0002.pmf"), lower.lines());
    // "tap" names a text file; the working directory is allowed for file pages.
    writeFile(QStringLiteral("tap"), "text of the file");
    writeFile(QStringLiteral("vtsmonitor.ini"), "[files]\nallow = .\n");
    writeQueueFile(QStringLiteral("B0003.PMF"), QueueLines().lines());
    QueueLines ucp;
    ucp.method = QStringLiteral("UCP");
    writeQueueFile(QStringLiteral("A0004.PMF"), ucp.lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_EQ(filesIn(QString()), QStringList{QStringLiteral("B0003.PMF")});
    EXPECT_TRUE(hasStatus(QStringLiteral("Error: UCP not implemented yet")));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")).size(), 2);
    run(12);
    // The lower-case "tap" goes out as a text-file page with the text of
    // "tap", handed over in the server's own copy.
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].messages.size(), 1u);
    EXPECT_EQ(toInt(runs[0].messages[0].kind), 2);
    EXPECT_EQ(conv::trim(runs[0].messages[0].asciiFilename), QStringLiteral("pagetext/1.txt"));
    // The UCP file stays pending with status 0.
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A0004.PMF")});
    EXPECT_EQ(logRow(2).value(QStringLiteral("Status")).toInt(), 0);
}

TEST_F(MonitorCoreTest, FormatErrorsGoToFailedWithoutARow) {
    auto with = [](const std::function<void(QueueLines&)>& change) {
        QueueLines q;
        change(q);
        return q.lines();
    };
    const std::vector<std::pair<QString, QStringList>> cases = {
        {QStringLiteral("A_SHORT.PMF"), QueueLines().lines().mid(0, 21)},
        {QStringLiteral("A_DATE.PMF"),
         with([](QueueLines& q) { q.sentTime = QStringLiteral("soon"); })},
        {QStringLiteral("A_PHONE.PMF"),
         with([](QueueLines& q) { q.phone = QString(31, QLatin1Char('5')); })},
        {QStringLiteral("A_PIN.PMF"),
         with([](QueueLines& q) { q.pin = QString(21, QLatin1Char('1')); })},
        {QStringLiteral("A_BLOCK.PMF"),
         with([](QueueLines& q) { q.block = QStringLiteral("99999"); })},
    };
    for (const auto& [name, lines] : cases) {
        writeQueueFile(name, lines);
    }
    ASSERT_TRUE(startCore());
    run(2);
    for (const auto& c : cases) {
        EXPECT_TRUE(hasStatus(QStringLiteral("Error: PMF file format error: ") + c.first))
            << c.first.toStdString();
    }
    EXPECT_EQ(filesIn(QStringLiteral("FAILED")).size(), static_cast<int>(cases.size()));
    EXPECT_EQ(logRowCount(), 0);
    EXPECT_EQ(clientCount(), 0);
}

TEST_F(MonitorCoreTest, ExactlyTwentyTwoLinesIsAnEmptyMessage) {
    QueueLines q;
    q.body.clear();
    writeQueueFile(QStringLiteral("A1.PMF"), q.lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_EQ(logRowCount(), 1);
    EXPECT_EQ(logRow(1).value(QStringLiteral("Message")).toString(), QString());
    EXPECT_TRUE(hasStatus(QStringLiteral("Error 2")));  // the control refuses an empty message
}

TEST_F(MonitorCoreTest, LongDescriptiveValuesAreCutAndQuotesAreOrdinary) {
    QueueLines q;
    q.sender = QString(40, QLatin1Char('S'));
    q.computer = QStringLiteral("O'BRIEN-PC");
    writeQueueFile(QStringLiteral("A1.PMF"), q.lines());
    writeQueueFile(QStringLiteral("A2.PMF"), q.lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_EQ(logRow(1).value(QStringLiteral("Sender")).toString(), QString(30, QLatin1Char('S')));
    EXPECT_EQ(clientCount(), 1);
    EXPECT_EQ(statusTexts().count(QStringLiteral("New client added - Computer:O'BRIEN-PC")), 1);
}

TEST_F(MonitorCoreTest, KnownComputerInOtherCaseIsNotRegisteredAgain) {
    {
        auto db = configstore::open(dir());
        db->execute(
            QStringLiteral("insert into tblClients (Name, Path, ComputerName) values (?,?,?)"),
            {QStringLiteral("ALICE"), QStringLiteral("X"), QStringLiteral("PC-ONE")});
    }
    QueueLines q;
    q.computer = QStringLiteral("pc-one");
    writeQueueFile(QStringLiteral("A1.PMF"), q.lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_EQ(clientCount(), 1);
    EXPECT_FALSE(statusTexts().join('|').contains(QStringLiteral("New client added")));
}

TEST_F(MonitorCoreTest, WithoutModemsEverySubmissionIsRefusedAndStaysPending) {
    clearModems();
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(2);
    EXPECT_TRUE(hasStatus(QStringLiteral("Error 5")));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_EQ(logRow(1).value(QStringLiteral("Status")).toInt(), 0);
}

// How a call ends decides the log row's status, the status line and the
// folder the message file ends in; a failure is retried first.
struct OutcomeCase {
    const char* name;
    PortStatus dialed;
    int retries;
    size_t calls;
    const char* line;
    LogStatus status;
    const char* folder;
};

class CallOutcomeTest : public ServerTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(CallOutcomeTest, IsRecordedInTheLogAndFiled) {
    const OutcomeCase& c = GetParam();
    setSetting(QStringLiteral("NumberOfRetries"), c.retries);
    dialer = [&c](int, const PortRecord&) { return c.dialed; };
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(30);
    EXPECT_EQ(runs.size(), c.calls);
    EXPECT_TRUE(hasStatus(QString::fromLatin1(c.line))) << statusTexts().join('\n').toStdString();
    const QVariantMap row = logRow(1);
    EXPECT_EQ(row.value(QStringLiteral("Status")).toInt(), toInt(c.status));
    EXPECT_EQ(row.value(QStringLiteral("StatusDescription")).toString(), QString());
    for (const QString& folder : {QStringLiteral("SENT"), QStringLiteral("FAILED")}) {
        EXPECT_EQ(filesIn(folder), folder == QLatin1String(c.folder)
                                       ? QStringList{QStringLiteral("A1.PMF")}
                                       : QStringList())
            << folder.toStdString();
    }
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallOutcomeTest,
    ::testing::Values(
        OutcomeCase{"Sent", PortStatus::Sent, 0, 1,
                    "Message sucessfully sent: Ph#=5551234 PIN=1001 ID=1", LogStatus::Sent, "SENT"},
        OutcomeCase{"FailedAfterItsRetry", PortStatus::Failed, 1, 2,
                    "Message failed: Ph#=5551234 PIN=1001 ID=1", LogStatus::Failed, "FAILED"},
        OutcomeCase{"ModemError", PortStatus::ModemError, 0, 1,
                    "Message failed: Ph#=5551234 PIN=1001 ID=1", LogStatus::Failed, "FAILED"},
        OutcomeCase{"CancelledGoesToFailed", PortStatus::Cancelled, 0, 1,
                    "Message cancelled during dialing: Ph#=5551234 PIN=1001 ID=1",
                    LogStatus::Cancelled, "FAILED"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

TEST_F(MonitorCoreTest, ResultsWithoutRowOrFileAreReportedAndTheServerGoesOn) {
    ASSERT_TRUE(startCore());
    core().Pager1_MessageSent(QStringLiteral("77"), {}, QStringLiteral("1"), QStringLiteral("2"));
    EXPECT_TRUE(hasStatus(QStringLiteral("Error: no log entry for message ID=77")));
    EXPECT_TRUE(hasStatus(QStringLiteral("Message sucessfully sent: Ph#=1 PIN=2 ID=77")));

    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    clearModems();  // nothing is dispatched; results come from the test
    run(2);
    QFile::remove(QDir(queueDir()).filePath(QStringLiteral("PENDING/A1.PMF")));
    core().ChangeLogStatus(QStringLiteral("1"), 1);
    EXPECT_TRUE(
        hasStatus(QStringLiteral("Error: message file A1.PMF is not in the pending folder")));
    EXPECT_EQ(logRow(1).value(QStringLiteral("Status")).toInt(), 1);

    writeQueueFile(QStringLiteral("A2.PMF"), QueueLines().lines());
    run(7);
    writeFile(QStringLiteral("queue/FAILED/A2.PMF"), "older");
    core().ChangeLogStatus(QStringLiteral("2"), 2);
    EXPECT_TRUE(
        hasStatus(QStringLiteral("Error: a file named A2.PMF is already in the FAILED folder")));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A2.PMF")});
    EXPECT_EQ(readFile(QStringLiteral("queue/FAILED/A2.PMF")), QByteArray("older"));
}

TEST_F(MonitorCoreTest, AStatusThatIsNoResultIsWrittenButMovesNoFile) {
    clearModems();  // nothing is dispatched; results come from the test
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(2);
    const int lines = static_cast<int>(statusTexts().size());
    core().ChangeLogStatus(QStringLiteral("1"), 7);
    EXPECT_EQ(logRow(1).value(QStringLiteral("Status")).toInt(), 7);
    EXPECT_EQ(logRow(1).value(QStringLiteral("StatusDescription")).toString(), QString());
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_EQ(statusTexts().size(), lines);
}

TEST_F(MonitorCoreTest, AlertResultsTouchNoRowOrFile) {
    ASSERT_TRUE(startCore());
    core().Pager1_MessageSent(QStringLiteral("Alert"), {}, QStringLiteral("1"),
                              QStringLiteral("2"));
    core().Pager1_MessageFailed(QStringLiteral("Alert"), {}, QStringLiteral("1"),
                                QStringLiteral("2"), 3);
    EXPECT_EQ(statusTexts(),
              (QStringList{QStringLiteral("Vantrel Server started"),
                           QStringLiteral("Message sucessfully sent: Ph#=1 PIN=2 ID=Alert"),
                           QStringLiteral("Error message alert failed to be sent via a page")}));
}

TEST_F(MonitorCoreTest, CheckIntervalAndExpirySweep) {
    setSetting(QStringLiteral("CheckTime"), 1);  // once a minute
    setSetting(QStringLiteral("PMFExpireDays"), 2);
    writeFile(QStringLiteral("queue/SENT/AOLD.PMF"), "x");
    writeFile(QStringLiteral("queue/SENT/ANEW.PMF"), "x");
    QFile old(QDir(queueDir()).filePath(QStringLiteral("SENT/AOLD.PMF")));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(loop.now().addDays(-3), QFileDevice::FileModificationTime));
    old.close();
    QFile fresh(QDir(queueDir()).filePath(QStringLiteral("SENT/ANEW.PMF")));
    ASSERT_TRUE(fresh.open(QIODevice::ReadWrite));
    ASSERT_TRUE(fresh.setFileTime(loop.now().addDays(-1), QFileDevice::FileModificationTime));
    fresh.close();

    ASSERT_TRUE(startCore());
    run(1);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("ANEW.PMF")});
    clearModems();
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    run(30);
    EXPECT_EQ(filesIn(QString()),
              QStringList{QStringLiteral("A1.PMF")});  // waits for the next check
    run(32);
    EXPECT_TRUE(filesIn(QString()).isEmpty());
}

TEST_F(MonitorCoreTest, InvalidQueueFolderIsReported) {
    setSetting(QStringLiteral("MessageQueueLocation"), path(QStringLiteral("nowhere")));
    ASSERT_TRUE(startCore());
    run(1);
    EXPECT_TRUE(hasStatus(QStringLiteral("The folder specified for the message queue is invalid")));
}

TEST_F(MonitorCoreTest, ExitWithPendingFilesYesReturnsThemNoKeepsRunning) {
    clearModems();
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    writeQueueFile(QStringLiteral("A2.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(2);
    ASSERT_EQ(filesIn(QStringLiteral("PENDING")).size(), 2);
    int endedWith = -1;
    QObject::connect(&core(), &MonitorCore::ended, [&](int c) { endedWith = c; });

    dialogs.queueAnswer(Dialogs::Answer::No);
    EXPECT_FALSE(core().Form_Unload());
    EXPECT_EQ(dialogs.shown().back().text, MonitorCore::kPendingQuestion);
    EXPECT_EQ(dialogs.shown().back().title, QStringLiteral("Warning!"));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")).size(), 2);
    EXPECT_TRUE(core().timer1().isActive());
    EXPECT_EQ(endedWith, -1);

    dialogs.queueAnswer(Dialogs::Answer::Yes);
    EXPECT_TRUE(core().Shutdown_c_Click());
    EXPECT_EQ(filesIn(QString()),
              (QStringList{QStringLiteral("A1.PMF"), QStringLiteral("A2.PMF")}));
    EXPECT_FALSE(core().storesOpen());
    EXPECT_TRUE(view.events.contains(QStringLiteral("shutdown")));
    EXPECT_EQ(endedWith, 0);
    // Rows of returned files keep status 0.
    EXPECT_EQ(logRow(1).value(QStringLiteral("Status")).toInt(), 0);
}

TEST_F(MonitorCoreTest, ExitWithoutPendingFilesAsksNothing) {
    ASSERT_TRUE(startCore());
    EXPECT_TRUE(core().Form_Unload());
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MonitorCoreTest, FilesLeftPendingByACrashAreReturnedAndSentAtStart) {
    writeFile(QStringLiteral("queue/PENDING/A1.PMF"), QueueLines().lines().join("\r\n").toLatin1());
    writeFile(QStringLiteral("queue/PENDING/A2.PMF"), QueueLines().lines().join("\r\n").toLatin1());
    ASSERT_TRUE(startCore());
    EXPECT_TRUE(hasStatus(
        QStringLiteral("Returned 2 message file(s) from the pending folder to the queue")));
    run(15);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 2);
}

TEST_F(MonitorCoreTest, ExitRequestedDuringACheckWaitsForTheCheck) {
    for (const char* n : {"A1.PMF", "A2.PMF", "A3.PMF"}) {
        writeQueueFile(QString::fromLatin1(n), QueueLines().lines());
    }
    ASSERT_TRUE(startCore());
    bool asked = false;
    loop.setYieldHook([&] {
        if (!asked && core().isChecking() && core().status().texts().join('|').contains("ID=1")) {
            asked = true;
            EXPECT_FALSE(core().Form_Unload(false));
        }
    });
    run(2);
    loop.setYieldHook({});
    EXPECT_TRUE(asked);
    EXPECT_TRUE(core().hasEnded());
    EXPECT_FALSE(core().storesOpen());
    // The pending one went back; the others never left the queue folder.
    EXPECT_EQ(filesIn(QString()).size(), 3);
}

TEST_F(MonitorCoreTest, FullPagerQueueLeavesTheRestInTheQueueFolder) {
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    // Fill the control's 800 slots before the first check.
    loop.setYieldHook([this] {
        if (core().pager() && core().pager()->QueueCount() == 0 && !core().isChecking()) {
            for (int i = 0; i < 800; ++i) {
                core().pager()->SendMessage(QStringLiteral("x"), QStringLiteral("5550000"),
                                            QStringLiteral("1"));
            }
        }
    });
    ASSERT_TRUE(startCore());
    loop.setYieldHook({});
    ASSERT_EQ(core().pager()->QueueCount(), 800);
    run(1);
    EXPECT_EQ(filesIn(QString()), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_EQ(logRowCount(), 0);
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
}

TEST_F(MonitorCoreTest, StopDuringStartUpEndsBeforeAnythingOpens) {
    loop.setYieldHook([this] { core().Form_Unload(false); });
    EXPECT_FALSE(startCore());
    loop.setYieldHook({});
    EXPECT_TRUE(core().hasEnded());
    EXPECT_EQ(core().exitCode(), 0);
    EXPECT_FALSE(logstore::present(dir()));
}

TEST_F(MonitorCoreTest, SetupButtonStartsTheConfigurationProgramWithoutWaiting) {
    ASSERT_TRUE(startCore());
    core().Configure_c_Click();
    ASSERT_FALSE(launcher.requests.empty());
    EXPECT_EQ(launcher.requests.back().program, QStringLiteral("VTSCONFIG.EXE"));
    EXPECT_TRUE(core().timer1().isActive());
    launcher.onStart = [](const Launcher::Request&) { return std::shared_ptr<ProcessHandle>(); };
    core().Configure_c_Click();
    EXPECT_TRUE(
        statusTexts().last().startsWith(QStringLiteral("Error: VTSCONFIG.EXE cannot be started")));
}

TEST_F(MonitorCoreTest, StoreRemovedWhileRunningEndsTheProgram) {
    ASSERT_TRUE(startCore());
    int endedWith = -1;
    QObject::connect(&core(), &MonitorCore::ended, [&](int c) { endedWith = c; });
    QFile::rename(path(configstore::kFileName), path(QStringLiteral("moved.mdb")));
    run(1);
    EXPECT_EQ(endedWith, 1);
    EXPECT_EQ(dialogs.shown().back().text, configstore::kMissingText);
}

}  // namespace
