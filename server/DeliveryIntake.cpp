#include "DeliveryIntake.h"

#include "Database.h"
#include "DeliveryLog.h"
#include "DeliveryNotes.h"

namespace vts {

namespace {

// How long the server waits for a store or a notes file another program holds.
constexpr int kWaitMs = 50;

}  // namespace

DeliveryIntake::DeliveryIntake(QString dir, Log log)
    : m_dir(std::move(dir)), m_log(std::move(log)) {}

bool DeliveryIntake::take() {
    const bool kept = deliverynotes::drain(
        m_dir,
        [this](const QList<deliverynotes::Note>& notes) {
            db::Database* log = m_log ? m_log() : nullptr;
            if (!log || !log->isOpen()) return false;
            db::ShortWait wait(*log, kWaitMs);
            try {
                keepDeliveryNotes(*log, notes);
                return true;
            } catch (const db::DbError&) {
                return false;  // tried again some ticks later
            }
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
