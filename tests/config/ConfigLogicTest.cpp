#include "ClientList.h"
#include "ConfigSettings.h"
#include "FolderBrowser.h"
#include "LoginSettings.h"
#include "ModemList.h"
#include "PendingFiles.h"
#include "TestSupport.h"

#include <QDir>

#include <limits>

using namespace vts;

namespace {

struct PortCase {
    const char* typed;
    bool inRange;
};

TEST(NewPortRange, ReadsTheLeadingNumberLeniently) {
    const PortCase cases[] = {{"1", true},   {"32", true},  {"33", false}, {"0", false},
                              {"-1", false}, {"", false},   {"05", true},  {"3x", true},
                              {"1.5", true}, {" 7 ", true}, {"x3", false}, {"32.5", false}};
    for (const auto& c : cases)
        EXPECT_EQ(modems::inRange(QString::fromLatin1(c.typed)), c.inRange) << c.typed;
}

TEST(ModemWarning, NamesPortsTheServerCannotUse) {
    EXPECT_TRUE(modems::serverWarning({"COM1", "COM9", "COM05"}).isEmpty());
    const QString high = modems::serverWarning({"COM1", "COM10", "COM32"});
    EXPECT_TRUE(high.contains("COM10, COM32")) << high.toStdString();
    QStringList nine;
    for (int i = 1; i <= 9; ++i) nine << QStringLiteral("COM%1").arg(i);
    EXPECT_TRUE(modems::serverWarning(nine).contains("first eight"));
    // A long list is named in part, so the note stays short.
    QStringList many;
    for (int i = 1; i <= 32; ++i) many << QStringLiteral("COM%1").arg(i);
    EXPECT_EQ(modems::serverWarning(many),
              "The server can use only ports 1 to 9; it cannot use COM10, COM11, COM12 and 20 "
              "more. The server uses only the first eight ports listed.");
    EXPECT_EQ(modems::serverPortNumber("COM3x"), 3);
    EXPECT_EQ(modems::serverPortNumber("COM05"), 5);
}

struct PasswordCase {
    const char* typed;
    const char* stored;
    bool match;
};

TEST(Passwords, CompareTrimmedAndUpperCased) {
    const PasswordCase cases[] = {{"secret", "SECRET", true}, {"  SeCrEt ", "secret", true},
                                  {"secre", "SECRET", false}, {"", "", true},
                                  {"   ", "", true},          {"a b", "A B", true},
                                  {"ab", "a b", false}};
    for (const auto& c : cases)
        EXPECT_EQ(login::passwordsMatch(c.typed, c.stored), c.match) << c.typed << "/" << c.stored;
    EXPECT_EQ(login::normalised("  new pass "), "NEW PASS");
}

TEST(LoginFlag, NullAsksForLoginButShowsUnticked) {
    login::Row row;
    EXPECT_TRUE(login::loginRequired(row));
    EXPECT_FALSE(login::enabledBox(row));
    row.enabled = 0;
    EXPECT_FALSE(login::loginRequired(row));
    EXPECT_FALSE(login::enabledBox(row));
    row.enabled = -1;
    EXPECT_TRUE(login::loginRequired(row));
    EXPECT_TRUE(login::enabledBox(row));
}

TEST(IdleMinutes, BlankOrWholeMinutes) {
    EXPECT_TRUE(login::validIdleMinutes(""));
    EXPECT_TRUE(login::validIdleMinutes(" 15 "));
    EXPECT_FALSE(login::validIdleMinutes("ten"));
    EXPECT_FALSE(login::validIdleMinutes("1.5"));
    EXPECT_FALSE(login::validIdleMinutes("40000"));
}

TEST(Choices, OutOfListValueIsKeptWhenNothingIsShown) {
    EXPECT_EQ(settings::choiceToStore(7, 7), 7);
    EXPECT_EQ(settings::choiceToStore(11, -1), 11);
    EXPECT_EQ(settings::choiceToStore(-1, -1), -1);
    EXPECT_EQ(settings::choiceToStore(2, 5), 5);
    EXPECT_TRUE(settings::isNumberText(" 30 "));
    EXPECT_TRUE(settings::isNumberText("1.5"));
    EXPECT_FALSE(settings::isNumberText("30 days"));
}

TEST(ClientFolderPart, KeepsTheTrailingSeparator) {
    EXPECT_EQ(clients::folderPart("C:\\CLIENT\\VT.MDB"), "C:\\CLIENT\\");
    EXPECT_EQ(clients::folderPart("/srv/client/VT.MDB"), "/srv/client/");
    EXPECT_EQ(clients::folderPart("VT.MDB"), "");
    EXPECT_EQ(clients::normalise("  smith "), "SMITH");
}

class ConfigFilesTest : public test::TempDirTest {};

TEST_F(ConfigFilesTest, ClientLocationFoundAsTheFileSearchFindsIt) {
    writeFile("client/VT.MDB", "x");
    QDir().mkpath(path("empty"));
    EXPECT_TRUE(clients::locationAccessible(path("client/VT.MDB"), dir()));
    EXPECT_TRUE(clients::locationAccessible(path("CLIENT/vt.mdb").toUpper(), dir()));
    EXPECT_TRUE(clients::locationAccessible(" " + path("client") + "/ ", dir()));
    EXPECT_TRUE(clients::locationAccessible("CLIENT\\", dir()));
    EXPECT_FALSE(clients::locationAccessible(path("empty") + "/", dir()));
    EXPECT_FALSE(clients::locationAccessible(path("client/OTHER.MDB"), dir()));
    EXPECT_FALSE(clients::locationAccessible("", dir()));
    // A folder written without its separator is not a file, as on Windows.
    EXPECT_FALSE(clients::locationAccessible(path("client"), dir()));
}

TEST_F(ConfigFilesTest, FolderToOpenResolvesUpperCasedPaths) {
    writeFile("Client One/VT.MDB", "x");
    const QString real = QDir(path("Client One")).absolutePath();
    EXPECT_EQ(clients::folderToOpen(" " + (dir() + "/CLIENT ONE/VT.MDB") + " ", dir()), real);
    EXPECT_EQ(clients::folderToOpen("CLIENT ONE\\", dir()).chopped(1), real);
    EXPECT_EQ(clients::folderToOpen(dir() + "/MISSING", dir()), "");
}

TEST_F(ConfigFilesTest, PendingFilesCountsOnlyMessageFilesInAllThreeFolders) {
    writeFile("q/PENDING/A1.PMF", QByteArray(400, 'x'));
    writeFile("q/PENDING/a2.pmf", QByteArray(100, 'x'));
    writeFile("q/PENDING/notes.txt", QByteArray(5000, 'x'));
    writeFile("q/Sent/A3.PMF", QByteArray(500, 'x'));
    const auto s = pending::compute(path("q"), dir(), dir());
    EXPECT_EQ(s.pending, 2);
    EXPECT_EQ(s.sent, 1);
    EXPECT_EQ(s.failed, 0);  // missing folder counts as empty
    EXPECT_EQ(s.bytes, 1000);
    const QStringList l = pending::labels(s);
    EXPECT_EQ(l.at(0), "Number of Pending:  2 files");
    EXPECT_EQ(l.at(1), "Number of Sent:  1 files");
    EXPECT_EQ(l.at(2), "Number of Failed:  0 files");
    EXPECT_EQ(l.at(3), "Total Number:  3 files");
    EXPECT_EQ(l.at(4), "File size total:  1000 bytes");
    EXPECT_TRUE(l.at(5).startsWith("Total size available: "));
    EXPECT_GT(s.freeBytes, 0);
}

TEST(PendingTexts, ByteTotalAndFreeSpaceForms) {
    EXPECT_EQ(pending::byteTotalText(0), " 0 bytes");
    EXPECT_EQ(pending::byteTotalText(1000), " 1000 bytes");
    EXPECT_EQ(pending::byteTotalText(1001), " 1.001 KB");
    EXPECT_EQ(pending::byteTotalText(12500), " 12.5 KB");
    EXPECT_EQ(pending::byteTotalText(5'000'000'000LL), " 5000000 KB");
    EXPECT_EQ(pending::freeSpaceText(999), "999 bytes");
    EXPECT_EQ(pending::freeSpaceText(3'000'000'000'000LL), "3,000,000,000 KB");
    EXPECT_EQ(pending::freeSpaceText(1'234'567), "1,235 KB");
}

TEST_F(ConfigFilesTest, FolderBrowserStaysOnAReadableFolder) {
    QDir().mkpath(path("b/Sub Two"));
    QDir().mkpath(path("b/sub1"));
    FolderBrowser browser(path("b"));
    EXPECT_EQ(browser.path(), QDir(path("b")).absolutePath());
    EXPECT_EQ(browser.subfolders(), QStringList({"Sub Two", "sub1"}));
    EXPECT_EQ(browser.ancestors().first(), "/");
    EXPECT_EQ(browser.ancestors().last(), browser.path());
    QString error;
    EXPECT_FALSE(browser.setPath(path("b/none"), &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(browser.path(), QDir(path("b")).absolutePath());
    EXPECT_TRUE(browser.setPath("sub1"));
    EXPECT_TRUE(browser.path().endsWith("/b/sub1"));
    const QStringList drives = FolderBrowser::drives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    EXPECT_EQ(FolderBrowser::driveOf("/anything/below", {"/", "/mnt", "/mnt/x"}), "/");
    EXPECT_EQ(FolderBrowser::driveOf("/mnt/x/y", {"/", "/mnt", "/mnt/x"}), "/mnt/x");
    EXPECT_EQ(FolderBrowser::driveOf("/mntx", {"/", "/mnt"}), "/");
}

}  // namespace
