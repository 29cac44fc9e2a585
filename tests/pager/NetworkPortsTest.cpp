// Ports served by network carriers on virtual time, against the stand-in
// dialer: their batches start within the coalescing window and one after
// the other without a dialing delay, while modem ports, alone or beside
// them, keep the group window and the dialing delay to the millisecond, and
// routes still decide which port a number may use.
#include "PagerFixture.h"

#include <PagerOCX.h>

namespace vts {
namespace {

using test::DialerRun;
using test::StandInDialer;

struct Send {
    double at;  // seconds after the case starts
    const char* uid;
    const char* phone;
};

struct Started {
    int com;
    double from, to;  // its start, in seconds after the case starts
    const char* uids;
};

struct Case {
    const char* name;
    std::vector<int> coms;
    QSet<int> network;
    const char* routes;
    std::vector<Send> sends;
    std::vector<Started> runs;  // in the order they start
};

class NetworkPortsTest : public test::PagerTest {};

TEST_F(NetworkPortsTest, NetworkPortsSkipTheModemsWaitsAndModemsKeepThem) {
    // A modem's first batch: the first tick at 1 s starts the group window
    // (5 s), the tick at 6 s scans, and the dialer starts once more than
    // the dialing delay (2 s) has passed.
    const double modemStart = 8.0;
    const Case cases[] = {
        {"pages together share the network port's run",
         {2},
         {2},
         "",
         {{0, "a", "5551111"}, {0.05, "b", "5551111"}},
         {{2, 0.1, 0.1, "a b"}}},
        {"a network port takes the next batch at once",
         {2},
         {2},
         "",
         {{0, "a", "5551111"}, {0, "b", "5552222"}, {0, "c", "5553333"}},
         {{2, 0.1, 0.1, "a"}, {2, 0.1, 0.15, "b"}, {2, 0.1, 0.2, "c"}}},
        {"a modem port keeps the group window and the dialing delay",
         {1},
         {},
         "",
         {{0, "a", "5551111"}},
         {{1, modemStart, modemStart + 0.01, "a"}}},
        {"mixed ports without routes: the network port takes the page",
         {1, 2},
         {2},
         "",
         {{0, "a", "5551111"}},
         {{2, 0.1, 0.1, "a"}}},
        {"mixed ports: each number on its route, the modem's waits kept",
         {1, 2},
         {2},
         "[routes]\n5551111 = COM1\n5552222 = COM2\n",
         {{0, "a", "5551111"}, {0, "b", "5552222"}},
         {{2, 0.1, 0.1, "b"}, {1, modemStart, modemStart + 0.01, "a"}}},
        {"a route that puts the modem first waits for the modem",
         {1, 2},
         {2},
         "[routes]\n5551111 = COM1, COM2\n",
         {{0, "a", "5551111"}},
         {{1, modemStart, modemStart + 0.01, "a"}}},
        {"a number routed to one network port never takes another",
         {2, 3},
         {2, 3},
         "[routes]\n5551111 = COM3\n",
         {{0, "a", "5551111"}, {0, "b", "5552222"}},
         {{3, 0.1, 0.1, "a"}, {2, 0.1, 0.1, "b"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(QStringLiteral("calvex.ini"), QByteArray(c.routes));
        makePager(false);
        pager->setGroupTimeWindow(5);
        pager->setDialingDelay(2);
        const QSet<int> network = c.network;
        pager->setNetworkPorts([network](const QString&) { return network; });
        for (const int com : c.coms) {
            pager->AddComPort(static_cast<std::int16_t>(com));
        }
        for (size_t p = 1; p <= c.coms.size(); ++p) {
            EXPECT_EQ(pager->isNetworkPort(static_cast<int>(p)), c.network.contains(c.coms[p - 1]));
        }
        dialer->runs.clear();
        events.clear();
        const QDateTime start = loop.now();
        for (const Send& s : c.sends) {
            loop.advanceTo(start.addMSecs(static_cast<qint64>(s.at * 1000)));
            send(QString::fromLatin1(s.uid), QString::fromLatin1(s.phone));
        }
        loop.advanceTo(start.addSecs(12));
        ASSERT_EQ(dialer->runs.size(), c.runs.size());
        for (size_t i = 0; i < c.runs.size(); ++i) {
            const DialerRun& run = dialer->runs[i];
            const Started& want = c.runs[i];
            const double at = EventLoop::secondsBetween(start, run.startedAt);
            EXPECT_EQ(run.header.comPort, want.com) << "run " << i;
            EXPECT_GE(at, want.from) << "run " << i;
            EXPECT_LE(at, want.to) << "run " << i;
            QStringList uids;
            for (const PortRecord& r : run.records) {
                uids << r.uniqueId.trimmed();
            }
            EXPECT_EQ(uids.join(u' '), QLatin1String(want.uids)) << "run " << i;
        }
        EXPECT_EQ(events.size(), c.sends.size());
        pager.reset();
    }
}

// A number whose batch is on a network port keeps the pages that come
// meanwhile for its next batch, even with a second network port free; the
// next batch takes them all at once.
TEST_F(NetworkPortsTest, ANumberOnTheLineWaitsForItsNextBatch) {
    makePager(false);
    pager->setNetworkPorts([](const QString&) { return QSet<int>{2, 3}; });
    pager->AddComPort(2);
    pager->AddComPort(3);
    dialer->script = [](DialerRun&) -> std::optional<int> { return std::nullopt; };
    send(QStringLiteral("a"));
    loop.advance(0.2);
    ASSERT_EQ(dialer->runs.size(), 1u);
    for (const char* uid : {"b", "c"}) {
        send(QString::fromLatin1(uid));
        loop.advance(0.3);
    }
    EXPECT_EQ(dialer->runs.size(), 1u);  // port 3 stayed free
    // The first run ends: the next batch carries both pages that waited.
    for (int r = 1; r <= 2; ++r) {
        writeRecordStatus(1, r, 2);
    }
    dialer->script = StandInDialer::allSent;
    dialer->runs.front().handle->finish();
    loop.advance(0.1);
    ASSERT_EQ(dialer->runs.size(), 2u);
    EXPECT_EQ(dialer->runs[1].records.size(), 2u);
    EXPECT_EQ(eventIds(),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

}  // namespace
}  // namespace vts
