// Routes from calvex.ini on virtual time, against the stand-in dialer: which
// port each number's batch goes to, failover at once without a retry
// counted, the first port's return, numbers that wait, and refusals the
// dialer marks final.
#include "PagerFixture.h"

#include <CauseFile.h>
#include <PagerOCX.h>
#include <Routes.h>

namespace vts {
namespace {

using test::DialerRun;
using test::RaisedEvent;
using test::StandInDialer;

TEST(Routes, ParseReadsNumbersByDigitsAndRefusesWhatItCannotRead) {
    const Routes r = Routes::parse(
        QStringLiteral("[ports]\nCOM3=snpp:a:1\n[routes]\n555-1111 = COM3, com1 ; SNPP first\n"
                       "5552222=COM4\n# a comment\n5553333 = COM3 COM1\n= COM2\n5554444 = LPT1\n"));
    EXPECT_TRUE(r.active());
    EXPECT_EQ(r.routeOf(QStringLiteral("5551111")), (QList<int>{3, 1}));
    EXPECT_EQ(r.routeOf(QStringLiteral("(555) 22-22")), QList<int>{4});
    EXPECT_EQ(r.problems().size(), 3);
    const struct {
        const char* phone;
        int com;
        bool allowed;
    } cases[] = {
        {"5551111", 3, true},  {"5551111", 1, true},  {"5551111", 4, false},
        {"5552222", 4, true},  {"5552222", 3, false}, {"5559999", 2, true},
        {"5559999", 3, false}, {"5553333", 2, true},  // a route that could not be read
    };
    for (const auto& c : cases) {
        EXPECT_EQ(r.allows(QString::fromLatin1(c.phone), c.com), c.allowed)
            << c.phone << " COM" << c.com;
    }
    const Routes none = Routes::parse(QStringLiteral("[ports]\nCOM1=/dev/ttyS0\n"));
    EXPECT_FALSE(none.active());
    EXPECT_TRUE(none.allows(QStringLiteral("5551111"), 3));
}

class RoutesTest : public test::PagerTest {
protected:
    void SetUp() override {
        PagerTest::SetUp();
        writeFile(QStringLiteral("calvex.ini"), "[routes]\n5551111 = COM3, COM1\n5552222 = COM4\n");
        makePager();
        QObject::connect(pager.get(), &PagerOCX::notice,
                         [this](const QString& text) { notices << text; });
        for (int com : {3, 1, 4}) {
            pager->AddComPort(static_cast<std::int16_t>(com));
        }
        dialer->script = [this](DialerRun& run) -> std::optional<int> {
            const int com = run.header.comPort;
            comOfRun.push_back(com);
            const QString why = run.workingDirectory + u'/' + causefile::fileName(run.port);
            if (downPorts.contains(com)) {
                causefile::appendPort(why, causefile::PortFault::Unreachable,
                                      QStringLiteral("cannot connect"));
                for (PortRecord& r : run.records) {
                    causefile::append(why, r.index, QStringLiteral("cannot connect"));
                    r.status = 3;
                }
                return 3;
            }
            for (PortRecord& r : run.records) {
                const bool refused = r.pin.trimmed() == QLatin1String("refused");
                if (refused) {
                    causefile::append(why, r.index, QStringLiteral("invalid recipient"), true);
                }
                r.status = refused ? 3 : 2;
            }
            return 2;
        };
    }
    void sendTo(const QString& uid, const QString& phone, const QString& pin = {}) {
        if (pin.isEmpty()) {
            send(uid, phone);
        } else {
            pager->SendMessage(QStringLiteral("hello"), phone, pin, 0, uid);
        }
    }
    QSet<int> downPorts;
    std::vector<int> comOfRun;
    QStringList notices;
};

TEST_F(RoutesTest, EachNumberGoesOnlyToItsRouteAndFailsOverAtOnce) {
    pager->setNumberOfRetries(3);
    pager->setRetryDelay(30);
    const struct {
        const char* step;
        QList<int> down;
        const char* phone;
        double seconds;         // virtual time given to the step
        std::vector<int> coms;  // COM ports of the step's runs, in order
        bool sent;              // the step's page ends sent
        bool passedOver;        // COM3 passed over afterwards
        const char* notice;     // a status line of the step
    } steps[] = {
        {"first port", {}, "5551111", 3, {3}, true, false, ""},
        {"own route", {}, "5552222", 3, {4}, true, false, ""},
        {"failover", {3}, "5551111", 4, {3, 1}, true, true, "route failover: COM3"},
        {"passed over", {3}, "5551111", 3, {1}, true, true, ""},
        {"back", {}, "5551111", 70, {3}, true, false, "COM3 reaches its carrier again"},
        {"route down", {3, 1}, "5551111", 4, {3, 1}, false, true, ""},
    };
    int n = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        downPorts = QSet<int>(s.down.begin(), s.down.end());
        comOfRun.clear();
        events.clear();
        notices.clear();
        if (QLatin1String(s.step) == QLatin1String("back")) {
            loop.advance(s.seconds);  // past the minute a failed port is passed over
        }
        sendTo(QStringLiteral("p%1").arg(++n), QString::fromLatin1(s.phone));
        ticks(static_cast<int>(QLatin1String(s.step) == QLatin1String("back") ? 3 : s.seconds));
        EXPECT_EQ(comOfRun, s.coms);
        EXPECT_EQ(!events.empty() && events.back().kind == RaisedEvent::Sent, s.sent);
        EXPECT_EQ(pager->portState(1).passedOver, s.passedOver);
        if (*s.notice) {
            EXPECT_TRUE(notices.join(u'\n').contains(QLatin1String(s.notice)))
                << notices.join(u'\n').toStdString();
        }
    }
    EXPECT_TRUE(pager->portState(1).reason.startsWith(QLatin1String("route failover: ")));
    EXPECT_FALSE(pager->portState(3).passedOver);  // COM4 was never down
    // The page whose every port is down waits; it never went to COM4.
    EXPECT_TRUE(events.empty());
    ticks(5);
    EXPECT_EQ(std::count(comOfRun.begin(), comOfRun.end(), 4), 0);
}

TEST_F(RoutesTest, AFinalRefusalFailsAtOnceWhateverTheRetries) {
    pager->setNumberOfRetries(3);
    pager->setRetryDelay(1);
    sendTo(QStringLiteral("bad"), QStringLiteral("5552222"), QStringLiteral("refused"));
    ticks(20);
    EXPECT_EQ(comOfRun, std::vector<int>{4});
    ASSERT_EQ(events.size(), 1u) << notices.join(u'\n').toStdString() << " queue "
                                 << pager->queue().count() << " status " << headerStatus(3);
    EXPECT_EQ(events[0].kind, RaisedEvent::Failed);
}

}  // namespace
}  // namespace vts
