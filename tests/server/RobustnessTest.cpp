// The server when things break: a run that ended without its exit
// sequence, a log that takes no writes, odd entries in the queue folder,
// conditions that last, file pages naming any file, texts longer than a
// port record.
#include "ServerTestSupport.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "LogStore.h"
#include "PortRecord.h"
#include "ResultJournal.h"
#include "StatusListModel.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstring>

using namespace vts;
using namespace vts::test;

namespace {

class RobustnessTest : public ServerTest {
protected:
    // Starts a core, lets it log the files in the queue folder without
    // dispatching, and drops it the way a crash does (no exit sequence).
    void logAndCrash() {
        clearModems();
        ASSERT_TRUE(startCore());
        run(2);
        m_core.reset();
        addModem(QStringLiteral("COM1"));
    }
    int countStatus(const QString& text) { return static_cast<int>(statusTexts().count(text)); }
    int countStatusStartingWith(const QString& start) {
        int n = 0;
        for (const QString& t : statusTexts()) {
            n += t.startsWith(start) ? 1 : 0;
        }
        return n;
    }
    static PortRecord record(const QString& uid, int status, int retries = 0) {
        PortRecord r;
        r.uniqueId = uid;
        r.status = static_cast<std::int16_t>(status);
        r.retries = static_cast<std::int16_t>(retries);
        r.phoneNumber = QStringLiteral("5551234");
        r.pin = QStringLiteral("1001");
        r.message = QStringLiteral("Hello");
        return r;
    }
    void writePortFile(int port, int headerStatus, const std::vector<PortRecord>& records) {
        QByteArray bytes;
        PortRecord header = records.back();
        header.status = static_cast<std::int16_t>(headerStatus);
        header.index = static_cast<std::int32_t>(records.size());
        bytes += header.encode();
        for (const PortRecord& r : records) {
            bytes += r.encode();
        }
        writeFile(portfile::fileName(port), bytes);
    }
    int rowStatus(qint64 id) { return logRow(id).value(QStringLiteral("Status")).toInt(); }
};

// What the port files of a crashed run say is taken as the result; only
// messages whose outcome nobody knows go back to the queue.
TEST_F(RobustnessTest, LeftOverPortFilesAreReadBeforePendingFilesAreReturned) {
    setSetting(QStringLiteral("NumberOfRetries"), 1);
    for (int i = 1; i <= 7; ++i) {
        writeQueueFile(QStringLiteral("A%1.PMF").arg(i), QueueLines().lines());
    }
    logAndCrash();
    ASSERT_EQ(filesIn(QStringLiteral("PENDING")).size(), 7);
    // The dialer on port 1 died half-way; the one on port 2 finished.
    writePortFile(1, 1,
                  {record("1", 2), record("2", 3, 1), record("3", 4), record("4", 1),
                   record("5", 3, 0), record("999", 2)});
    writePortFile(2, 2, {record("6", 1), record("7", 5, 1)});

    ASSERT_TRUE(startCore());
    struct Case {
        const char* name;
        qint64 id;
        int status;
        const char* folder;
    };
    const Case cases[] = {
        {"sent", 1, 1, "SENT"},
        {"failed without retries left", 2, 2, "FAILED"},
        {"cancelled", 3, 3, "FAILED"},
        {"unknown goes back", 4, 0, ""},
        {"failed with a retry left goes back", 5, 0, ""},
        {"waiting record takes the final header", 6, 1, "SENT"},
        {"modem error without retries left", 7, 2, "FAILED"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rowStatus(c.id), c.status) << c.name;
        EXPECT_TRUE(
            filesIn(QString::fromLatin1(c.folder)).contains(QStringLiteral("A%1.PMF").arg(c.id)))
            << c.name;
    }
    EXPECT_TRUE(hasStatus(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001 ID=1")));
    EXPECT_TRUE(hasStatus(QStringLiteral("Message failed: Ph#=5551234 PIN=1001 ID=2")));
    EXPECT_TRUE(
        hasStatus(QStringLiteral("Message cancelled during dialing: Ph#=5551234 PIN=1001 ID=3")));
    EXPECT_TRUE(hasStatus(
        QStringLiteral("Returned 2 message file(s) from the pending folder to the queue")));
    EXPECT_FALSE(hasStatus(QStringLiteral("Error: no log entry for message ID=999")));
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
    run(15);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 4);  // the two returned ones, paged once more
}

TEST_F(RobustnessTest, APortFileADialerStillHoldsIsReadAtOnceThenLeftAloneUntilReleased) {
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    logAndCrash();
    writePortFile(1, 1, {record("1", 2)});
    auto earlier = std::make_unique<PortLock>(dir(), 1);
    ASSERT_TRUE(earlier->tryLock());
    const QDateTime before = loop.now();
    ASSERT_TRUE(startCore());
    // Not waited for: what the dialer marked final counts at once.
    EXPECT_LT(EventLoop::secondsBetween(before, loop.now()), 5);
    EXPECT_EQ(rowStatus(1), 1);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("mordax1.dat"))));
    writeQueueFile(QStringLiteral("A2.PMF"), QueueLines().lines());
    run(10);
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(countStatus(QStringLiteral("Error: mordax1.dat is still held by a dialer of an "
                                         "earlier run; port 1 is not used until it is released")),
              1);
    earlier.reset();
    run(15);
    EXPECT_TRUE(hasStatus(QStringLiteral("mordax1.dat was released; port 1 is used again")));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 2);
}

// The log is held by another program for longer than the store waits: the
// result is kept, survives a crash, and is recorded once the log is free.
TEST_F(RobustnessTest, AResultTheLogCannotTakeIsKeptAndRecordedLater) {
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(2);
    ASSERT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A1.PMF")});
    auto other = logstore::open(dir());
    other->execute(QStringLiteral("begin exclusive"));
    run(12);  // the result arrives while the log is held
    EXPECT_EQ(countStatusStartingWith(
                  QStringLiteral("Error: the log entry of message ID=1 cannot be updated: ")),
              1);
    EXPECT_TRUE(hasStatus(QStringLiteral("Message sucessfully sent: Ph#=5551234 PIN=1001 ID=1")));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("vtsresults.jnl"))));
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")), QStringList{QStringLiteral("A1.PMF")});

    m_core.reset();  // a crash while the result waits
    other->execute(QStringLiteral("rollback"));
    other.reset();
    ASSERT_TRUE(startCore());
    EXPECT_TRUE(
        hasStatus(QStringLiteral("The kept result of message ID=1 is now recorded in the log")));
    EXPECT_FALSE(hasStatus(
        QStringLiteral("Returned 1 message file(s) from the pending folder to the queue")));
    EXPECT_EQ(rowStatus(1), 1);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("A1.PMF")});
    ResultJournal left(dir());
    left.load();
    EXPECT_TRUE(left.isEmpty());
    run(15);
    EXPECT_EQ(runs.size(), 1u);  // paged once
}

// Nothing named like a queue file can make a check wait, and each odd entry
// gets one status line however many checks pass.
TEST_F(RobustnessTest, OddEntriesInTheQueueFolderAreLeftAloneWithOneLineEach) {
    const QByteArray q = QFile::encodeName(queueDir());
    ASSERT_EQ(::mkfifo((q + "/AFIFO.PMF").constData(), 0644), 0);
    ASSERT_TRUE(QDir(queueDir()).mkdir(QStringLiteral("ADIR.PMF")));
    ASSERT_EQ(::symlink("nowhere.txt", (q + "/ADANGLE.PMF").constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = q + "/ASOCK.PMF";
    ASSERT_LT(sockPath.size(), static_cast<qsizetype>(sizeof addr.sun_path));
    std::memcpy(addr.sun_path, sockPath.constData(), static_cast<size_t>(sockPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A good file, and a relative link to one kept beside the queue.
    writeQueueFile(QStringLiteral("AGOOD.PMF"), QueueLines().lines());
    ASSERT_TRUE(QDir(queueDir()).mkdir(QStringLiteral("store")));
    ASSERT_TRUE(text::writeLines(QDir(queueDir()).filePath(QStringLiteral("store/link.txt")),
                                 QueueLines().lines()));
    ASSERT_EQ(::symlink("store/link.txt", (q + "/ALINK.PMF").constData()), 0);

    ASSERT_TRUE(startCore());
    run(30);
    ::close(sock);
    struct Case {
        const char* name;
        const char* line;
    };
    const Case cases[] = {
        {"fifo", "Error: AFIFO.PMF in the queue folder is a FIFO, not a file; it is left alone"},
        {"folder", "Error: ADIR.PMF in the queue folder is a folder, not a file; it is left alone"},
        {"socket",
         "Error: ASOCK.PMF in the queue folder is a socket, not a file; it is left alone"},
        {"dangling link",
         "Error: ADANGLE.PMF in the queue folder is a link that leads nowhere; it is left alone"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(countStatus(QString::fromLatin1(c.line)), 1) << c.name;
    }
    EXPECT_EQ(filesIn(QStringLiteral("SENT")),
              (QStringList{QStringLiteral("AGOOD.PMF"), QStringLiteral("ALINK.PMF")}));
    const QFileInfo moved(QDir(queueDir()).filePath(QStringLiteral("SENT/ALINK.PMF")));
    EXPECT_TRUE(moved.isSymLink());
    EXPECT_TRUE(moved.exists());  // the link still leads to its file

    QFile::remove(QDir(queueDir()).filePath(QStringLiteral("AFIFO.PMF")));
    run(3);
    EXPECT_EQ(countStatus(QStringLiteral("AFIFO.PMF is no longer in the queue folder")), 1);
}

TEST_F(RobustnessTest, AFileWhoseNameCannotBeReadGoesToFailedWithALine) {
    const QByteArray raw = QFile::encodeName(queueDir()) + "/A\xff\xfe.PMF";
    QFile f(QFile::decodeName(raw));
    const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(startCore());
    run(5);
    EXPECT_EQ(
        countStatusStartingWith(QStringLiteral("Error: the name of a queue file cannot be read (")),
        1);
    struct stat st {};
    EXPECT_EQ(::stat((QFile::encodeName(queueDir()) + "/FAILED/A\xff\xfe.PMF").constData(), &st),
              0);
    EXPECT_NE(::stat(raw.constData(), &st), 0);
    // The temporary folder's removal cannot name it either.
    ::unlink((QFile::encodeName(queueDir()) + "/FAILED/A\xff\xfe.PMF").constData());
}

// A lasting condition writes a line when it starts, again every few
// minutes, and one when it clears.
TEST_F(RobustnessTest, LastingConditionsDoNotFloodTheStatusList) {
    ASSERT_TRUE(startCore());
    {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("create table SavedConfig as select * from tblConfig"));
        db->execute(QStringLiteral("delete from tblConfig"));
    }
    writeFile(QStringLiteral("queue/PENDING/A1.PMF"), "x");
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    run(120);
    const QString missing = QStringLiteral("Error: the settings row is missing from VTSCFG.MDB");
    const QString duplicate =
        QStringLiteral("Error: a file named A1.PMF is already in the pending folder");
    EXPECT_EQ(countStatus(missing), 1);
    EXPECT_EQ(countStatus(duplicate), 1);
    run(200);
    EXPECT_EQ(countStatus(missing), 2);
    EXPECT_EQ(countStatus(duplicate), 2);
    {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("insert into tblConfig select * from SavedConfig"));
    }
    QFile::remove(QDir(queueDir()).filePath(QStringLiteral("PENDING/A1.PMF")));
    run(10);
    EXPECT_EQ(countStatus(QStringLiteral("The settings row of VTSCFG.MDB is back")), 1);
    EXPECT_EQ(
        countStatus(QStringLiteral("The file named A1.PMF no longer waits for the pending folder")),
        1)
        << statusTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(countStatus(missing), 2);
}

// Line 1 naming a file pages that file only when it is a regular file in
// an allowed folder; the dialer gets a copy under a short name.
TEST_F(RobustnessTest, FilePagesReadOnlyRegularFilesInAllowedFolders) {
    writeFile(QStringLiteral("queue/texts/notice.txt"), "Fire drill at ten");
    writeFile(QStringLiteral("extra/sub/allowed.txt"), "From the extra folder");
    writeFile(QStringLiteral("queue/texts/big.txt"), QByteArray(20000, 'x'));
    writeFile(QStringLiteral("vtsmonitor.ini"), "[files]\r\nallow = extra\r\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("extra/fifo.txt"))).constData(), 0644),
              0);
    ASSERT_EQ(::symlink("/etc/hostname",
                        QFile::encodeName(path(QStringLiteral("queue/texts/out.txt"))).constData()),
              0);
    struct Case {
        const char* name;
        QString method;
        const char* refusal;  // nullptr: sent
        const char* text;
    };
    const Case cases[] = {
        {"inside the queue folder", path(QStringLiteral("queue/texts/notice.txt")), nullptr,
         "Fire drill at ten"},
        {"allowed by the settings file", QStringLiteral("extra\\sub\\allowed.txt"), nullptr,
         "From the extra folder"},
        {"system file", QStringLiteral("/etc/passwd"), "not in a folder allowed for file pages",
         nullptr},
        {"link leading out", path(QStringLiteral("queue/texts/out.txt")),
         "not in a folder allowed for file pages", nullptr},
        {"fifo in an allowed folder", QStringLiteral("extra/fifo.txt"), "not a regular file",
         nullptr},
        {"too large", path(QStringLiteral("queue/texts/big.txt")), "larger than 16384 bytes",
         nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        QueueLines q;
        q.method = c.method;
        writeQueueFile(QStringLiteral("A%1.PMF").arg(++n), q.lines());
    }
    QStringList texts;
    dialer = [&](int, const PortRecord& rec) {
        texts << QString::fromLatin1(readFile(conv::trim(rec.asciiFilename)));
        return PortStatus::Sent;
    };
    ASSERT_TRUE(startCore());
    run(20);
    n = 0;
    for (const auto& c : cases) {
        const QString f = QStringLiteral("A%1.PMF").arg(++n);
        if (c.refusal) {
            EXPECT_TRUE(hasStatus(QStringLiteral("Error: the text file ") + conv::trim(c.method) +
                                  QStringLiteral(" named by ") + f +
                                  QStringLiteral(" is refused: ") + QLatin1String(c.refusal)))
                << c.name;
            EXPECT_EQ(rowStatus(n), 2) << c.name;
            EXPECT_TRUE(filesIn(QStringLiteral("FAILED")).contains(f)) << c.name;
        } else {
            EXPECT_EQ(rowStatus(n), 1) << c.name;
            EXPECT_TRUE(texts.contains(QLatin1String(c.text))) << c.name;
        }
    }
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].messages.size(), 2u);
    EXPECT_EQ(toInt(runs[0].messages[0].kind), 2);
    EXPECT_EQ(conv::trim(runs[0].messages[0].asciiFilename), QStringLiteral("pagetext/1.txt"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("pagetext/1.txt"))));  // gone once sent
}

TEST_F(RobustnessTest, AMessageLongerThanARecordIsSentWholeOrFailsWithALine) {
    QueueLines longOne;
    longOne.body = {QString(300, u'a'), QString(400, u'b')};
    writeQueueFile(QStringLiteral("A1.PMF"), longOne.lines());
    QueueLines tooLong;
    tooLong.body = {QString(16385, u'c')};
    writeQueueFile(QStringLiteral("A2.PMF"), tooLong.lines());
    QString sentText;
    dialer = [&](int, const PortRecord& rec) {
        sentText = QString::fromLatin1(readFile(conv::trim(rec.asciiFilename)));
        return PortStatus::Sent;
    };
    ASSERT_TRUE(startCore());
    run(15);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(toInt(runs[0].messages[0].kind), 2);
    EXPECT_EQ(sentText, QString(300, u'a') + QString(400, u'b'));
    EXPECT_EQ(logRow(1).value(QStringLiteral("Message")).toString(), sentText);
    EXPECT_EQ(rowStatus(1), 1);
    EXPECT_TRUE(hasStatus(QStringLiteral(
        "Error: the message of A2.PMF is longer than 16384 characters; it was not sent")));
    EXPECT_EQ(rowStatus(2), 2);
    EXPECT_EQ(filesIn(QStringLiteral("FAILED")), QStringList{QStringLiteral("A2.PMF")});
}

TEST_F(RobustnessTest, OnlyACarriageReturnEndsAQueueFileLine) {
    QByteArray lfOnly = QueueLines().lines().join(QLatin1Char('\n')).toLatin1() + '\n';
    writeFile(QStringLiteral("queue/A1.PMF"), lfOnly);
    QueueLines inner;
    inner.body = {QStringLiteral("Hello\nWorld")};
    writeQueueFile(QStringLiteral("A2.PMF"), inner.lines());
    ASSERT_TRUE(startCore());
    run(15);
    EXPECT_TRUE(hasStatus(QStringLiteral("Error: PMF file format error: A1.PMF")));
    EXPECT_EQ(filesIn(QStringLiteral("FAILED")), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_EQ(logRow(1).value(QStringLiteral("Message")).toString(),
              QStringLiteral("Hello\nWorld"));
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("A2.PMF")});
}

}  // namespace
