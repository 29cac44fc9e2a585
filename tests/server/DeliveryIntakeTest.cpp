// The dialer's delivery notes reach tblDelivery through the server: taken
// whole when the store takes them, left in their file (never half kept)
// while another program holds the store, and tried again some ticks later.
#include "DeliveryIntake.h"

#include <Database.h>
#include <DeliveryNotes.h>
#include <DeliveryStore.h>
#include <LogStore.h>
#include <TestSupport.h>

#include <QFile>

namespace vts {
namespace {

class DeliveryIntakeTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        logstore::create(dir());
        m_log = logstore::open(dir());
    }

    QString state(qint64 id) {
        const auto d = delivery::of(*m_log, id, delivery::kDefaultNoReceiptMinutes);
        return d ? d->state + (d->reason.isEmpty() ? QString() : u':' + d->reason) : QString();
    }
    QByteArray notes() const { return readFile(deliverynotes::fileName()); }

    std::unique_ptr<db::Database> m_log;
    DeliveryIntake m_intake{dir(), [this] { return m_log.get(); }};
};

TEST_F(DeliveryIntakeTest, NotesWaitWhileTheStoreIsHeldAndAreKeptWhole) {
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::submittedNote(5, {"a1", "a2"})));
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::submittedNote(6, {"b1"})));
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::receiptNote("a1", true, "")));
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::receiptNote("b1", false, "UNDELIV")));
    // A line cut short, one that is no note and a submission without IDs
    // are passed over; the others still count.
    {
        QFile f(path(deliverynotes::fileName()));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(
            "{\"kind\":\"submitted\",\"id\":7,\"message\n[1,2]\n"
            "{\"kind\":\"submitted\",\"id\":8,\"message_ids\":[]}\n");
    }
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::receiptNote("zz", true, "")));

    // Another program holds the store: nothing is kept, nothing is lost.
    auto other = logstore::open(dir());
    other->execute(QStringLiteral("BEGIN IMMEDIATE"));
    const QByteArray before = notes();
    EXPECT_FALSE(m_intake.take());
    EXPECT_EQ(notes(), before);
    EXPECT_EQ(state(5), QString());
    other->execute(QStringLiteral("COMMIT"));

    // After a failed try the ticks wait a few seconds.
    for (int i = 1; i < DeliveryIntake::kRetrySeconds; ++i) m_intake.tick();
    EXPECT_EQ(notes(), before);
    m_intake.tick();
    EXPECT_TRUE(notes().isEmpty());
    EXPECT_EQ(state(5), QStringLiteral("awaiting receipt"));  // one part of two delivered
    EXPECT_EQ(state(6), QStringLiteral("not delivered:UNDELIV"));
    EXPECT_EQ(state(7), QString());

    // A later run's notes are taken at the next tick: the second part's
    // receipt settles the page.
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::receiptNote("a2", true, "")));
    m_intake.tick();
    EXPECT_EQ(state(5), QStringLiteral("delivered"));
    EXPECT_TRUE(m_intake.take());  // nothing waits: nothing to do
}

TEST_F(DeliveryIntakeTest, NoStoreLeavesTheNotesInTheirFile) {
    DeliveryIntake closed(dir(), [] { return nullptr; });
    ASSERT_TRUE(deliverynotes::append(dir(), deliverynotes::submittedNote(5, {"a1"})));
    EXPECT_FALSE(closed.take());
    EXPECT_TRUE(notes().contains("\"a1\""));
    EXPECT_TRUE(m_intake.take());
    EXPECT_EQ(state(5), QStringLiteral("awaiting receipt"));
}

}  // namespace
}  // namespace vts
