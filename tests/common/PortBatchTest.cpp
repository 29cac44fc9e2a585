// How every reader of a port file takes a batch: the header's status, the
// count held to the records present and to the most a batch can hold,
// records that cannot be read, and the status that settles each record.
#include "FailingPortDevice.h"
#include "PortBatch.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vts;

namespace {

constexpr long long kNoLimit = FailingPortDevice::kUnlimited;

struct Row {
    const char* name = "";
    int headerStatus = 0;
    int declaredCount = 0;
    std::vector<int> recordStatuses{};  // records 2.. as the file holds them
    bool dialerGone = false;            // the control marks the batch failed
    long long readBudget = kNoLimit;    // bytes read before reads fail
    // Expected:
    bool headerRead = true;
    bool finished = false;
    bool intact = true;
    std::vector<int> settledAs{};  // statusOf() of each record read
    int firstUnreadable = 0;       // 0: every record read
};

class PortBatchTest : public test::TempDirTest {
protected:
    QString writeBatch(const Row& row) {
        QByteArray bytes;
        PortRecord header;
        header.status = static_cast<std::int16_t>(row.headerStatus);
        header.index = row.declaredCount;
        bytes += header.encode();
        for (size_t k = 0; k < row.recordStatuses.size(); ++k) {
            PortRecord rec;
            rec.status = static_cast<std::int16_t>(row.recordStatuses[k]);
            rec.index = static_cast<std::int32_t>(k + 1);
            bytes += rec.encode();
        }
        writeFile(portfile::fileName(1), bytes);
        return path(portfile::fileName(1));
    }
};

TEST_F(PortBatchTest, EveryReaderTakesTheSameBatchFromAPortFile) {
    const std::vector<int> many(801, 1);
    const std::vector<int> fromMany(800, 3);
    constexpr int kRec = PortRecord::kSize;
    const Row rows[] = {
        {.name = "final header settles records left busy",
         .headerStatus = 2,
         .declaredCount = 3,
         .recordStatuses = {1, 3, 1},
         .finished = true,
         .settledAs = {2, 3, 2}},
        {.name = "busy record under a failed header",
         .headerStatus = 3,
         .declaredCount = 2,
         .recordStatuses = {1, 2},
         .finished = true,
         .settledAs = {3, 2}},
        {.name = "a modem error header is final too",
         .headerStatus = 5,
         .declaredCount = 1,
         .recordStatuses = {1},
         .finished = true,
         .settledAs = {5}},
        {.name = "busy header is not finished",
         .headerStatus = 1,
         .declaredCount = 2,
         .recordStatuses = {1, 2},
         .settledAs = {1, 2}},
        {.name = "idle header is not finished",
         .headerStatus = 0,
         .declaredCount = 1,
         .recordStatuses = {0},
         .settledAs = {0}},
        {.name = "statuses outside the results stay as they are",
         .headerStatus = 4,
         .declaredCount = 2,
         .recordStatuses = {0, 9},
         .finished = true,
         .settledAs = {0, 9}},
        {.name = "busy header of a dialer that is gone counts as failed",
         .headerStatus = 1,
         .declaredCount = 2,
         .recordStatuses = {1, 4},
         .dialerGone = true,
         .finished = true,
         .settledAs = {3, 4}},
        {.name = "a gone dialer leaves a final header alone",
         .headerStatus = 4,
         .declaredCount = 1,
         .recordStatuses = {1},
         .dialerGone = true,
         .finished = true,
         .settledAs = {4}},
        {.name = "count above the records present",
         .headerStatus = 3,
         .declaredCount = 5,
         .recordStatuses = {2, 1},
         .finished = true,
         .intact = false,
         .settledAs = {2, 3}},
        {.name = "count above what a batch can hold",
         .headerStatus = 3,
         .declaredCount = 900,
         .recordStatuses = many,
         .finished = true,
         .intact = false,
         .settledAs = fromMany},
        {.name = "negative count",
         .headerStatus = 2,
         .declaredCount = -1,
         .recordStatuses = {2},
         .finished = true,
         .intact = false},
        {.name = "zero count",
         .headerStatus = 2,
         .declaredCount = 0,
         .finished = true,
         .intact = false},
        {.name = "unreadable record",
         .headerStatus = 2,
         .declaredCount = 3,
         .recordStatuses = {2, 2, 2},
         .readBudget = 2 * kRec,
         .finished = true,
         .settledAs = {2},
         .firstUnreadable = 3},
        {.name = "record cut off part-way through",
         .headerStatus = 2,
         .declaredCount = 2,
         .recordStatuses = {2, 2},
         .readBudget = 2 * kRec + 100,
         .finished = true,
         .settledAs = {2},
         .firstUnreadable = 3},
        {.name = "unreadable header",
         .headerStatus = 2,
         .declaredCount = 1,
         .recordStatuses = {2},
         .readBudget = 700,
         .headerRead = false,
         .intact = false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString file = writeBatch(row);
        FailingPortDevice device;
        device.failReadsAfter(row.readBudget);
        PortBatch batch(file, device);
        if (row.dialerGone) batch.markFailed();
        EXPECT_EQ(batch.headerRead(), row.headerRead);
        EXPECT_EQ(batch.finished(), row.finished);
        EXPECT_EQ(batch.readRecords(), row.headerRead && row.firstUnreadable == 0);
        EXPECT_EQ(batch.intact(), row.intact);
        EXPECT_EQ(batch.firstUnreadable().value_or(0), row.firstUnreadable);
        std::vector<int> settled;
        for (const PortBatch::Entry& e : batch.records()) {
            EXPECT_EQ(e.record.index, e.number - 1);  // the record's own slot
            settled.push_back(batch.statusOf(e.record));
        }
        EXPECT_EQ(settled, row.settledAs);
    }
}

TEST_F(PortBatchTest, AHeaderShorterThanARecordOrAMissingFileIsNotRead) {
    writeFile(portfile::fileName(1), QByteArray(500, ' '));
    PortBatch cut(path(portfile::fileName(1)));
    EXPECT_FALSE(cut.headerRead());
    EXPECT_FALSE(cut.finished());
    PortBatch missing(path(QStringLiteral("mordax8.dat")));
    EXPECT_FALSE(missing.headerRead());
    EXPECT_FALSE(missing.readRecords());
}

}  // namespace
