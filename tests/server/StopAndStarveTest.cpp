// The server stopped while dialers are on the line, started while a dialer
// of the run before still holds its port, and starved of its log: no page is
// paged again that is known to be sent, none is lost, and nothing stalls.
#include "ServerTestSupport.h"

#include "Conversions.h"
#include "Database.h"
#include "LogStore.h"
#include "PortRecord.h"
#include "ResultJournal.h"
#include "StatusListModel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

using namespace vts;
using namespace vts::test;

namespace {

class StopAndStarveTest : public ServerTest {
protected:
    // A stand-in dialer that stays on the line until it is asked to stop,
    // then marks its records as `onStop` says (nothing: it ignores a
    // polite stop and is only ended by force).
    struct HeldRun {
        int port = 0;
        std::vector<PortRecord> records;
        std::shared_ptr<RecordingLauncher::Handle> handle;
    };
    using StopScript = std::function<std::vector<PortStatus>(size_t count)>;

    void holdDialers(const StopScript& onStop, bool ignorePoliteStop = false) {
        launcher.onStart = [=, this](const Launcher::Request& r) -> std::shared_ptr<ProcessHandle> {
            auto h = std::make_shared<RecordingLauncher::Handle>();
            const int port = conv::trim(r.arguments.value(0)).toInt();
            const QString file = QDir(dir()).filePath(portfile::fileName(port));
            auto header = PortRecord::decode(portfile::readRecord(file, 1).value_or(QByteArray()));
            HeldRun run{port, {}, h};
            for (int i = 2; header && i <= header->index + 1; ++i) {
                if (auto rec =
                        PortRecord::decode(portfile::readRecord(file, i).value_or(QByteArray()))) {
                    run.records.push_back(*rec);
                }
            }
            const size_t index = held.size();
            held.push_back(run);
            h->onStop = [=, this](bool force) {
                if (!force && ignorePoliteStop) {
                    return;
                }
                HeldRun& mine = held[index];
                const std::vector<PortStatus> marks =
                    force ? std::vector<PortStatus>{} : onStop(mine.records.size());
                for (size_t k = 0; k < marks.size() && k < mine.records.size(); ++k) {
                    mine.records[k].status = static_cast<std::int16_t>(marks[k]);
                    portfile::writeRecord(file, static_cast<int>(k) + 2, mine.records[k].encode());
                }
                if (!marks.empty()) {
                    auto head = *header;
                    head.status = static_cast<std::int16_t>(marks.back());
                    portfile::writeRecord(file, 1, head.encode());
                }
                mine.handle->finish();
            };
            if (stopOnFirstStart && held.size() == 1) {
                // The stop signal arrives while the pager control is still
                // inside its dispatch round.
                core().Form_Unload(false);
            }
            return h;
        };
    }
    int rowStatus(qint64 id) { return logRow(id).value(QStringLiteral("Status")).toInt(); }
    void queuePages(int n, int numbers) {
        for (int i = 1; i <= n; ++i) {
            QueueLines q;
            q.phone = QStringLiteral("555%1").arg(1000 + (i - 1) % numbers);
            writeQueueFile(QStringLiteral("A%1.PMF").arg(i), q.lines());
        }
    }

    std::vector<HeldRun> held;
    bool stopOnFirstStart = false;
};

// A stop while dialers are on the line: no new run starts, the runs are
// asked to stop and waited for, what they delivered is recorded as sent,
// and only the pages that did not go out go back to the queue, neither
// failed nor cancelled.
struct StopCase {
    const char* name;
    bool ignorePoliteStop;
    // Per record of the run on the line when the stop comes.
    std::vector<PortStatus> marks;
    std::vector<int> rowStatuses;  // of IDs 1..4 afterwards
    int sent, failed, returned;
};

class OrderlyStopTest : public StopAndStarveTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(OrderlyStopTest, RecordsWhatTheDialersDeliveredAndReturnsOnlyTheRest) {
    const StopCase& c = GetParam();
    addModem(QStringLiteral("COM2"));
    // Four pages for one number and two for another: the second batch
    // would go to the second port.
    queuePages(4, 1);
    QueueLines other;
    other.phone = QStringLiteral("5559999");
    writeQueueFile(QStringLiteral("A5.PMF"), other.lines());
    writeQueueFile(QStringLiteral("A6.PMF"), other.lines());
    stopOnFirstStart = true;
    holdDialers([&](size_t) { return c.marks; }, c.ignorePoliteStop);
    int endedWith = -1;
    ASSERT_TRUE(startCore());
    QObject::connect(&core(), &MonitorCore::ended, [&](int code) { endedWith = code; });
    const QDateTime before = loop.now();
    run(120);
    EXPECT_EQ(endedWith, 0);
    ASSERT_EQ(held.size(), 1u) << "a dialer started after the stop";
    ASSERT_FALSE(held[0].handle->stops.empty());
    EXPECT_FALSE(held[0].handle->stops.front());  // asked politely first
    if (c.ignorePoliteStop) {
        EXPECT_GE(EventLoop::secondsBetween(before, loop.now()), 60);
        EXPECT_TRUE(held[0].handle->stops.back());
    }
    for (qint64 id = 1; id <= 4; ++id) {
        EXPECT_EQ(rowStatus(id), c.rowStatuses[static_cast<size_t>(id - 1)]) << id;
    }
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), static_cast<qsizetype>(c.sent));
    EXPECT_EQ(filesIn(QStringLiteral("FAILED")).size(), static_cast<qsizetype>(c.failed));
    // The returned ones and the two of the batch that never started.
    EXPECT_EQ(filesIn(QString()).size(), static_cast<qsizetype>(c.returned + 2));
    EXPECT_TRUE(filesIn(QStringLiteral("PENDING")).isEmpty());
    EXPECT_FALSE(
        hasStatus(QStringLiteral("Message cancelled during dialing: Ph#=5551000 PIN=1001 ID=3")));
    m_core.reset();
    // Started again: only the returned pages go out.
    useStandInDialer();
    ASSERT_TRUE(startCore());
    run(20);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(),
              static_cast<qsizetype>(c.sent + c.returned + 2));
    EXPECT_EQ(runs.size(), 2u);
}

using S = PortStatus;
INSTANTIATE_TEST_SUITE_P(
    DialerAnswers, OrderlyStopTest,
    ::testing::Values(StopCase{"ends the page in hand",
                               false,
                               {S::Sent, S::Failed, S::Cancelled, S::Cancelled},
                               {1, 2, 0, 0},
                               1,
                               1,
                               2},
                      StopCase{"delivered all but the last",
                               false,
                               {S::Sent, S::Sent, S::Sent, S::Busy},
                               {1, 1, 1, 0},
                               3,
                               0,
                               1},
                      StopCase{"ignores the stop and is ended", true, {}, {0, 0, 0, 0}, 0, 0, 4}),
    [](const ::testing::TestParamInfo<StopCase>& info) {
        QString n = QString::fromLatin1(info.param.name);
        n.replace(QLatin1Char(' '), QLatin1Char('_'));
        return n.toStdString();
    });

// A dialer of a killed server still holds its port when the server starts
// again: what it already marked final is recorded at once, the start-up does
// not wait for it, and its other pages stay pending until it lets go.
TEST_F(StopAndStarveTest, ADialerOfTheRunBeforeIsNeitherWaitedForNorPagedAgain) {
    setSetting(QStringLiteral("NumberOfRetries"), 1);
    clearModems();
    queuePages(3, 1);
    ASSERT_TRUE(startCore());
    run(2);
    m_core.reset();
    addModem(QStringLiteral("COM1"));
    ASSERT_EQ(filesIn(QStringLiteral("PENDING")).size(), 3);

    // The old dialer sent page 1 and is still on the line with 2 and 3.
    std::vector<PortRecord> recs;
    for (int id = 1; id <= 3; ++id) {
        PortRecord r;
        r.uniqueId = QString::number(id);
        r.phoneNumber = QStringLiteral("5551000");
        r.pin = QStringLiteral("1001");
        r.message = QStringLiteral("Hello");
        r.status = static_cast<std::int16_t>(id == 1 ? PortStatus::Sent : PortStatus::Busy);
        recs.push_back(r);
    }
    QByteArray bytes;
    PortRecord header = recs.back();
    header.status = static_cast<std::int16_t>(PortStatus::Busy);
    header.index = 3;
    bytes += header.encode();
    for (const PortRecord& r : recs) {
        bytes += r.encode();
    }
    writeFile(portfile::fileName(1), bytes);
    auto oldDialer = std::make_unique<PortLock>(dir(), 1);
    ASSERT_TRUE(oldDialer->tryLock());

    const QDateTime before = loop.now();
    ASSERT_TRUE(startCore());
    EXPECT_LT(EventLoop::secondsBetween(before, loop.now()), 10);
    EXPECT_EQ(rowStatus(1), 1);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")), QStringList{QStringLiteral("A1.PMF")});
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")).size(), 2);
    run(10);
    EXPECT_TRUE(runs.empty());

    // It delivers page 2, fails page 3 with a retry left, and lets go.
    recs[1].status = static_cast<std::int16_t>(PortStatus::Sent);
    recs[2].status = static_cast<std::int16_t>(PortStatus::Failed);
    portfile::writeRecord(path(portfile::fileName(1)), 3, recs[1].encode());
    portfile::writeRecord(path(portfile::fileName(1)), 4, recs[2].encode());
    header.status = static_cast<std::int16_t>(PortStatus::Failed);
    portfile::writeRecord(path(portfile::fileName(1)), 1, header.encode());
    oldDialer.reset();
    run(20);
    EXPECT_EQ(rowStatus(2), 1);
    EXPECT_TRUE(hasStatus(
        QStringLiteral("Returned 1 message file(s) from the pending folder to the queue")));
    // Page 3 alone went out again, under a new row.
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].messages.size(), 1u);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 3);
}

// A dialer that stops writing anything (SIGSTOP, a hang) is timed out: asked
// to stop, then ended, and its pages retried on a new run; one line names
// the port.
TEST_F(StopAndStarveTest, AHungDialerIsEndedAndItsPagesRetried) {
    setSetting(QStringLiteral("NumberOfRetries"), 1);
    queuePages(2, 1);
    holdDialers([](size_t) { return std::vector<PortStatus>{}; }, true);
    ASSERT_TRUE(startCore());
    run(60);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(held[0].handle->stops.empty());  // silent, but not yet past the limit
    for (int t = 0; t < 200 && held.size() < 2; ++t) {
        run(1);
    }
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].handle->stops, (std::vector<bool>{false, true}));
    EXPECT_EQ(held[1].records.size(), 2u);  // the same two pages, tried again
    int lines = 0;
    for (const QString& t : statusTexts()) {
        lines += t.startsWith(QStringLiteral("Error: the dialer on port 1 has written nothing to "
                                             "mordax1.dat for "))
                     ? 1
                     : 0;
    }
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(rowStatus(1), 0);  // retried, not failed
}

// Runs `body` in a child process that has a tmpfs of `bytes` on `dir`, in
// a user and mount namespace of its own (so no root is needed and nothing
// else runs short). The child's exit status, or -1 when this machine allows
// no such namespace.
int inSmallFileSystem(const QString& dir, int bytes, const std::function<int()>& body) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            _exit(126);
        }
        auto put = [](const char* file, const std::string& text) {
            const int fd = open(file, O_WRONLY);
            const bool ok =
                fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            if (fd >= 0) {
                close(fd);
            }
            return ok;
        };
        put("/proc/self/setgroups", "deny");
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
            mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0,
                  ("size=" + std::to_string(bytes)).c_str()) != 0) {
            _exit(126);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 126) {
        return WIFEXITED(status) ? -1 : 125;
    }
    return WEXITSTATUS(status);
}

// The result journal's reserve is made at start-up, so a result can be kept
// when the disk has no room left for anything else, and it survives a crash.
TEST_F(StopAndStarveTest, TheJournalReserveKeepsResultsOnAFullDisk) {
    const QString small = path(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    const QString longName = QStringLiteral("A%1.PMF").arg(QString(240, QLatin1Char('9')));
    const int status = inSmallFileSystem(small, 4 << 20, [&]() -> int {
        {
            ResultJournal journal(small);
            if (!journal.load() || journal.freeSlots() != ResultJournal::kSlots) {
                return 1;
            }
            // The disk fills up to the last byte.
            QFile filler(small + QStringLiteral("/filler"));
            filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
            for (qint64 chunk : {qint64{1} << 16, qint64{512}, qint64{1}}) {
                while (filler.write(QByteArray(chunk, 'x')) == chunk) {
                }
            }
            QFile other(small + QStringLiteral("/other"));
            if (!other.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
                other.write(QByteArray(4096, 'x')) == 4096) {
                return 2;  // the disk is not full
            }
            if (!journal.add({7, LogStatus::Sent, QStringLiteral("A7.PMF")}) ||
                !journal.add({8, LogStatus::Failed, longName}) ||
                !journal.add({7, LogStatus::Cancelled, QStringLiteral("A7.PMF")}) ||
                !journal.remove(8) || !journal.add({9, LogStatus::Sent, longName})) {
                return 3;
            }
        }  // a crash: nothing more is written
        // Started again with the disk still full: no new reserve, but the
        // old one is read and still takes results in place.
        ResultJournal again(small);
        if (again.load()) {
            return 4;
        }
        if (again.entries().size() != 2 || again.entries().at(0).id != 7 ||
            again.entries().at(0).status != LogStatus::Cancelled ||
            again.entries().at(1).name != longName || !again.holdsFile(QStringLiteral("a7.pmf")) ||
            again.freeSlots() != ResultJournal::kSlots - 2) {
            return 5;
        }
        if (!again.add({10, LogStatus::Sent, QStringLiteral("A10.PMF")})) {
            return 6;
        }
        return 0;
    });
    if (status < 0) {
        GTEST_SKIP() << "no user namespaces here";
    }
    EXPECT_EQ(status, 0);
}

// A log held by another program for 30 s: pages already logged go out on
// time, results wait in the journal, new files wait in the queue folder, and
// the server's thread is never held for the store's wait per write.
TEST_F(StopAndStarveTest, ALockedLogDelaysNoDispatchOfPagesAlreadyLogged) {
    addModem(QStringLiteral("COM2"));
    queuePages(10, 10);
    ASSERT_TRUE(startCore());
    run(1);
    ASSERT_EQ(logRowCount(), 10);
    auto other = logstore::open(dir());
    other->execute(QStringLiteral("begin exclusive"));
    writeQueueFile(QStringLiteral("A11.PMF"), QueueLines().lines());
    writeQueueFile(QStringLiteral("A12.PMF"), QueueLines().lines());

    QElapsedTimer wall;
    wall.start();
    run(30);
    const qint64 ms = wall.elapsed();
    // Ten calls over two ports within the 30 s, all results kept.
    EXPECT_EQ(runs.size(), 10u);
    EXPECT_EQ(filesIn(QStringLiteral("PENDING")).size(), 10);
    EXPECT_EQ(filesIn(QString()).size(), 2);  // not logged yet
    // A write waits a fraction of a second, and only a few are tried (the
    // store's own wait is 5 s per write).
    EXPECT_LT(ms, 8000);
    int cannotBeLogged = 0;
    for (const QString& t : statusTexts()) {
        cannotBeLogged += t.contains(QStringLiteral("cannot be logged")) ? 1 : 0;
    }
    EXPECT_EQ(cannotBeLogged, 1);

    other->execute(QStringLiteral("rollback"));
    other.reset();
    run(15);
    EXPECT_EQ(filesIn(QStringLiteral("SENT")).size(), 12);
    for (qint64 id = 1; id <= 12; ++id) {
        EXPECT_EQ(rowStatus(id), 1) << id;
    }
    EXPECT_TRUE(hasStatus(QStringLiteral("The log takes new entries again")));
}

}  // namespace
