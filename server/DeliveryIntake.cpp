#include "DeliveryIntake.h"

#include "Database.h"
#include "DeliveryLog.h"
#include "DeliveryNotes.h"

#include <sqlite3.h>

namespace vts {

namespace {

// How long the server waits for a store or a notes file another program holds.
constexpr int kWaitMs = 50;
constexpr int kBusyTimeoutMs = 5000;  // the store layer's own wait, restored after

}  // namespace

DeliveryIntake::DeliveryIntake(QString dir, Log log)
    : m_dir(std::move(dir)), m_log(std::move(log)) {}

bool DeliveryIntake::take() {
    const bool kept = deliverynotes::drain(
        m_dir,
        [this](const QList<deliverynotes::Note>& notes) {
            db::Database* log = m_log ? m_log() : nullptr;
            if (!log || !log->isOpen()) return false;
            sqlite3_busy_timeout(log->handle(), kWaitMs);
            bool kept = true;
            try {
                keepDeliveryNotes(*log, notes);
            } catch (const db::DbError&) {
                kept = false;  // tried again at a later run's end or tick
            }
            sqlite3_busy_timeout(log->handle(), kBusyTimeoutMs);
            return kept;
        },
        kWaitMs);
    m_pause = kept ? 0 : kRetrySeconds - 1;
    return kept;
}

void DeliveryIntake::tick() {
    if (m_pause > 0) {
        --m_pause;
    } else if (deliverynotes::waiting(m_dir)) {
        take();
    }
}

}  // namespace vts
