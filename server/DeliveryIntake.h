#pragma once

#include <QString>

#include <functional>

namespace vts {

namespace db {
class Database;
}

// What the dialer runs noted of delivery (the message IDs of pages whose
// carrier will send receipts, and receipts that came during a run) into
// tblDelivery of the log store, within a second of their noting, so that
// a page's delivery shows without a receiver program running. Notes the
// store did not take (another program held it) stay in their file and are
// tried again kRetrySeconds later; the server's thread never waits for the
// store or the notes' lock longer than a moment.
class DeliveryIntake final {
public:
    using Log = std::function<db::Database*()>;

    static constexpr int kRetrySeconds = 10;

    DeliveryIntake(QString dir, Log log);

    // Keeps the notes now; false when they stay in their file.
    bool take();
    // Once a second: the notes that wait (after a failed try, only once
    // kRetrySeconds have passed).
    void tick();

private:
    QString m_dir;
    Log m_log;
    int m_pause = 0;  // ticks left before the next try
};

}  // namespace vts
