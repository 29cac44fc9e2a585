// Journal priorities of status lines, the JOURNAL_STREAM test and the
// warning of a server started by root.
#include "ScriptedDialogs.h"
#include "ServiceLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace vts;

namespace {

struct PriorityCase {
    const char* name;
    const char* text;
    int priority;
};

class StatusPriority : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(StatusPriority, FollowsTheLineText) {
    EXPECT_EQ(servicelog::priorityOf(QString::fromUtf8(GetParam().text)), GetParam().priority);
}

// Texts as the server writes them.
INSTANTIATE_TEST_SUITE_P(
    ServerLines, StatusPriority,
    ::testing::Values(
        PriorityCase{"Started", "Vantrel Server started", servicelog::kInfo},
        PriorityCase{"Submitted", "Submitted to queue: Ph#=5551234 PIN=1001 ID=7",
                     servicelog::kInfo},
        PriorityCase{"Sent", "Message sucessfully sent: Ph#=5551234 PIN=1001", servicelog::kInfo},
        PriorityCase{"NewClient", "New client added - Computer:PC1", servicelog::kInfo},
        PriorityCase{"FormatError", "Error: PMF file format error: A1.PMF", servicelog::kError},
        PriorityCase{"SubmitStatus", "Error 3", servicelog::kError},
        PriorityCase{"AlertPageRefused", "Error sending an modem alert to pager: 4",
                     servicelog::kError},
        PriorityCase{"AlertPageFailed", "Error message alert failed to be sent via a page",
                     servicelog::kError},
        PriorityCase{"BadQueueFolder", "The folder specified for the message queue is invalid",
                     servicelog::kError},
        PriorityCase{"Failed", "Message failed: Ph#=5551234 PIN=1001", servicelog::kWarning},
        PriorityCase{"Cancelled", "Message cancelled during dialing: Ph#=5551234",
                     servicelog::kWarning},
        PriorityCase{"AlertMailed", "Error message e-mailed to: ops@example.com",
                     servicelog::kWarning},
        PriorityCase{"AlertMailedPager", "Error message e-mailed to pager address: p@example.com",
                     servicelog::kWarning},
        PriorityCase{"Returned", "Returned 2 message file(s) from the pending folder to the queue",
                     servicelog::kWarning},
        PriorityCase{"RootWarning", "Warning: the server is running as root", servicelog::kWarning},
        // Case matters: only the server's own wording counts.
        PriorityCase{"ErrorInsideText", "Submitted to queue: Ph#=1 PIN=Error", servicelog::kInfo},
        PriorityCase{"Empty", "", servicelog::kInfo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JournalLine, PrefixesTheStampedLineByItsText) {
    EXPECT_EQ(servicelog::journalLine(QStringLiteral("07/15/2026 10:30:00 - Error 3")),
              QStringLiteral("<3>07/15/2026 10:30:00 - Error 3"));
    EXPECT_EQ(servicelog::journalLine(QStringLiteral("07/15/2026 10:30:00 - Message failed: x")),
              QStringLiteral("<4>07/15/2026 10:30:00 - Message failed: x"));
    // The time stamp never decides: a line is not an error because of it.
    EXPECT_EQ(
        servicelog::journalLine(QStringLiteral("07/15/2026 10:30:00 - Vantrel Server started")),
        QStringLiteral("<6>07/15/2026 10:30:00 - Vantrel Server started"));
}

TEST(JournalStream, MatchesDeviceAndInodeOnly) {
    EXPECT_TRUE(servicelog::journalStreamMatches("8:1234", 8, 1234));
    EXPECT_TRUE(servicelog::journalStreamMatches("66306:18446744073709551615", 66306,
                                                 static_cast<ino_t>(18446744073709551615ULL)));
    for (const char* bad : {"", ":", "8", "8:", ":1234", "8:1235", "9:1234", "8:1234x", "x8:1234",
                            "8:-1234", "8 1234"}) {
        EXPECT_FALSE(servicelog::journalStreamMatches(bad, 8, 1234)) << bad;
    }
}

TEST(JournalStream, StdoutIsJournalOnlyWhenTheVariableNamesStdout) {
    struct stat st {};
    ASSERT_EQ(::fstat(STDOUT_FILENO, &st), 0);
    const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);

    ::unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(servicelog::stdoutIsJournal());
    ::setenv("JOURNAL_STREAM", mine.c_str(), 1);
    EXPECT_TRUE(servicelog::stdoutIsJournal());
    // Inherited by a program whose output was redirected elsewhere.
    ::setenv("JOURNAL_STREAM", other.c_str(), 1);
    EXPECT_FALSE(servicelog::stdoutIsJournal());
    ::unsetenv("JOURNAL_STREAM");
}

TEST(RootWarning, OnlyForRootAndSaysWhy) {
    EXPECT_TRUE(servicelog::rootWarning(1000).isEmpty());
    const QString w = servicelog::rootWarning(0);
    EXPECT_EQ(servicelog::priorityOf(w), servicelog::kWarning);
    EXPECT_TRUE(w.contains(QStringLiteral("vantrel")));
    EXPECT_TRUE(w.contains(QStringLiteral("file")));
}

}  // namespace

namespace {

TEST(JournalDialogs, PrefixesEachBoxByItsIconAndPassesTheAnswerOn) {
    struct Case {
        Dialogs::Icon icon;
        const char* prefix;
    };
    auto inner = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs* scripted = inner.get();
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    servicelog::JournalDialogs dialogs(std::move(inner), out);
    std::string expected;
    for (const Case& c :
         {Case{Dialogs::Icon::Critical, "<3>"}, Case{Dialogs::Icon::Exclamation, "<4>"},
          Case{Dialogs::Icon::Information, "<6>"}, Case{Dialogs::Icon::None, "<6>"},
          Case{Dialogs::Icon::Question, "<6>"}}) {
        scripted->queueAnswer(Dialogs::Answer::No);
        EXPECT_EQ(dialogs.show(QStringLiteral("text"), QStringLiteral("title"), c.icon,
                               Dialogs::Buttons::YesNo),
                  Dialogs::Answer::No);
        expected += c.prefix;
    }
    ASSERT_EQ(scripted->shown().size(), 5U);
    EXPECT_EQ(scripted->shown().front().text, QStringLiteral("text"));
    EXPECT_EQ(scripted->shown().front().icon, Dialogs::Icon::Critical);
    std::rewind(out);
    char buffer[64] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    EXPECT_EQ(std::string(buffer, n), expected);
    std::fclose(out);
}

}  // namespace
