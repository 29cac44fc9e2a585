#include "ConnectFlow.h"
#include "DownloadClient.h"
#include "ProgramFolder.h"
#include "ServerAddress.h"
#include "VersionFileFetch.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace vts;

namespace {

TEST(DownloadPercent, RoundsToNearestWithHalvesToEven) {
    struct Row {
        qint64 total, length;
        int expected;
    };
    const Row rows[] = {
        {25000, 50000, 50},  {50000, 50000, 100}, {0, 50000, 0},   {6250, 50000, 12},  // 12.5 -> 12
        {18750, 50000, 38},                                                            // 37.5 -> 38
        {1, 200, 0},                                                                   // 0.5 -> 0
        {3, 200, 2},                                                                   // 1.5 -> 2
        {1, 3, 33},          {2, 3, 67},          {199, 200, 100},  // 99.5 -> 100
        {1000, 0, 0},                                               // unknown length
        {60000, 50000, 100},                                        // never past the end
    };
    for (const Row& r : rows)
        EXPECT_EQ(ConnectFlow::percent(r.total, r.length), r.expected)
            << r.total << "/" << r.length;
}

class ProgramFolderTest : public test::TempDirTest {};

TEST_F(ProgramFolderTest, UpdatedFileHoldsShortDateAndLongTime) {
    struct Row {
        QDateTime when;
        const char* expected;
    };
    const Row rows[] = {
        {QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)), "1/5/2026 9:00:00 AM"},
        {QDateTime(QDate(1998, 7, 15), QTime(22, 30, 5)), "7/15/1998 10:30:05 PM"},
        {QDateTime(QDate(2026, 12, 31), QTime(0, 0, 0)), "12/31/2026"},
        {QDateTime(QDate(2026, 12, 31), QTime(0, 0, 1)), "12/31/2026 12:00:01 AM"},
        {QDateTime(QDate(2026, 6, 1), QTime(12, 0, 0)), "6/1/2026 12:00:00 PM"},
        {QDateTime(QDate(2026, 6, 1), QTime(23, 59, 59)), "6/1/2026 11:59:59 PM"},
    };
    ProgramFolder f(dir());
    for (const Row& r : rows) {
        ASSERT_TRUE(f.writeUpdated(r.when));
        EXPECT_EQ(readFile("UPDATED.TXT"), QByteArray(r.expected) + "\r\n");
    }
}

TEST(Requests, BytesOnTheWireAreExact) {
    ServerAddress s;
    s.host = QStringLiteral("update.example.com");
    EXPECT_EQ(VersionFileFetch::request(s, QStringLiteral("/zupdate/fileinfo.txt")),
              QByteArray("GET /zupdate/fileinfo.txt HTTP/1.1\r\nHost: update.example.com\r\n"
                         "Accept: */*\r\n\r\n"));
    s.port = 8080;
    EXPECT_EQ(
        VersionFileFetch::request(s, QStringLiteral("/a")),
        QByteArray("GET /a HTTP/1.1\r\nHost: update.example.com:8080\r\nAccept: */*\r\n\r\n"));
    EXPECT_EQ(
        DownloadClient::request(QStringLiteral("/zupdate/vtupdate.exe")),
        QByteArray("GET /zupdate/vtupdate.exe HTTP/1.0\r\nUser-Agent: Vantrel Update/3.0\r\n\r\n"));
}

class ServerAddressTest : public test::TempDirTest {};

TEST_F(ServerAddressTest, DefaultsWithoutSettingsFile) {
    const ServerAddress a = ServerAddress::load(dir());
    EXPECT_EQ(a.host, QStringLiteral("update.vantrel.com"));
    EXPECT_EQ(a.port, 80);
    EXPECT_EQ(a.hostHeader(), QStringLiteral("update.vantrel.com"));
}

TEST_F(ServerAddressTest, ReadsHostAndPortFromFileInAnyCase) {
    writeFile("UPDATER.INI", "[server]\r\nhost = files.example.org\r\nport = 8081\r\n");
    const ServerAddress a = ServerAddress::load(dir());
    EXPECT_EQ(a.host, QStringLiteral("files.example.org"));
    EXPECT_EQ(a.port, 8081);
    EXPECT_EQ(a.hostHeader(), QStringLiteral("files.example.org:8081"));
}

TEST_F(ServerAddressTest, UnusableValuesKeepTheDefaults) {
    const char* hosts[] = {"bad host", "a/b", "evil\\r\\nX: 1", "-x.com", "a..b"};
    for (const char* h : hosts) {
        writeFile("updater.ini", QByteArray("[server]\nhost=") + h + "\nport=70000\n");
        const ServerAddress a = ServerAddress::load(dir());
        EXPECT_EQ(a.host, QStringLiteral("update.vantrel.com")) << h;
        EXPECT_EQ(a.port, 80) << h;
    }
    writeFile("updater.ini", "[server]\nhost=127.0.0.1\nport=0\n");
    EXPECT_EQ(ServerAddress::load(dir()).host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ServerAddress::load(dir()).port, 80);
}

TEST_F(ProgramFolderTest, FindsFilesInAnyLetterCaseAndNamesNewOnesAsWritten) {
    ProgramFolder f(dir());
    EXPECT_EQ(f.clientProgram(), path("VT.EXE"));
    writeFile("vt.exe", "x");
    writeFile("getvt/FileInfo.txt", "v1");
    EXPECT_EQ(f.clientProgram(), path("vt.exe"));
    EXPECT_EQ(f.downloadedVersionFile(), path("getvt/FileInfo.txt"));
    EXPECT_TRUE(f.ensureDownloadFolder());
    EXPECT_FALSE(QFileInfo::exists(path("GETVT")) && QDir(dir()).entryList().contains("GETVT"));
}

}  // namespace
