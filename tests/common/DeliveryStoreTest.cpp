// What a page's parts learn of delivery when receipts and submissions come
// in any order: a receipt that comes before its part is noted settles it
// when noted soon after, never a part noted much later under a reused ID;
// a part noted again under the same ID keeps what it learnt.
#include <DeliveryStore.h>
#include <LogStore.h>
#include <TestSupport.h>

namespace vts {
namespace {

struct Step {
    int minute;        // when it happens
    qint64 id;         // > 0: page `id` submitted as `what` (comma-separated IDs)
    const char* what;  // else a receipt: "ID:delivered" or "ID:not delivered:REASON"
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<qint64, const char*>> expect;  // page, "state[:reason]"
};

class DeliveryStoreTest : public test::TempDirTest {};

TEST_F(DeliveryStoreTest, ReceiptsAndSubmissionsInAnyOrder) {
    const QDateTime t0(QDate(2026, 12, 8), QTime(9, 0));
    const std::vector<Case> cases = {
        {"a receipt before its part is noted settles it",
         {{0, 0, "m1:delivered"}, {1, 7, "m1"}},
         {{7, "delivered"}}},
        {"a long text's early part and its later one",
         {{0, 0, "m1:delivered"}, {5, 7, "m1,m2"}, {6, 0, "m2:not delivered:UNDELIV"}},
         {{7, "not delivered:UNDELIV"}}},
        {"an early receipt too old for the part noted",
         {{0, 0, "m1:delivered"}, {delivery::kEarlyMinutes + 1, 7, "m1"}},
         {{7, "awaiting receipt"}}},
        {"a part noted again under its ID keeps what it learnt",
         {{0, 7, "m1,m2"}, {1, 0, "m1:delivered"}, {2, 7, "m1,m3"}, {3, 0, "m2:delivered"}},
         {{7, "awaiting receipt"}}},
        {"fewer parts noted again: the others go",
         {{0, 7, "m1,m2"}, {1, 0, "m1:delivered"}, {2, 7, "m1"}},
         {{7, "delivered"}}},
        {"a receipt again for a settled part is not kept for the next page",
         {{0, 7, "m1"}, {1, 0, "m1:delivered"}, {2, 0, "m1:not delivered:late"}, {3, 8, "m1"}},
         {{7, "delivered"}, {8, "awaiting receipt"}}},
        {"a reused ID goes to the newest part awaiting it",
         {{0, 7, "m1"}, {1, 8, "m1"}, {2, 0, "m1:delivered"}},
         {{7, "awaiting receipt"}, {8, "delivered"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path(logstore::kCreateName));
        logstore::create(dir());
        auto log = logstore::open(dir());
        for (const Step& s : c.steps) {
            const QDateTime at = t0.addSecs(qint64{60} * s.minute);
            const QStringList what = QString::fromLatin1(s.what).split(u':');
            if (s.id > 0) {
                delivery::noteSubmitted(*log, s.id, what[0].split(u','), at);
            } else {
                delivery::noteReceipt(*log, what[0], what[1] == u"delivered", what.value(2), at);
            }
        }
        for (const auto& [id, want] : c.expect) {
            const auto d = delivery::of(*log, id, delivery::kDefaultNoReceiptMinutes,
                                        t0.addSecs(qint64{60} * 40));
            ASSERT_TRUE(d) << id;
            EXPECT_EQ(
                (d->state + (d->reason.isEmpty() ? QString() : u':' + d->reason)).toStdString(),
                want)
                << id;
        }
    }
}

}  // namespace
}  // namespace vts
