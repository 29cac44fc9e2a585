#include "DeliveryLog.h"

#include "DeliveryStore.h"
#include "LogStore.h"
#include "TraceLog.h"

#include <QDateTime>

namespace vts {

namespace {

constexpr int kBusyMs = 2000;  // a moment of the server's or a reader's lock

}  // namespace

void keepDeliveryNotes(db::Database& log, const QList<deliverynotes::Note>& notes,
                       QStringList* unmatched) {
    if (notes.isEmpty()) return;
    delivery::createTable(log);
    log.execute(QStringLiteral("BEGIN IMMEDIATE"));
    QStringList missed;
    try {
        for (const deliverynotes::Note& n : notes) {
            if (n.kind == deliverynotes::Note::Kind::Submitted) {
                delivery::noteSubmitted(log, n.id, n.messageIds, n.at);
            } else if (delivery::noteReceipt(log, n.messageId, n.delivered, n.reason, n.at) == 0) {
                missed << n.messageId;
            }
        }
        log.execute(QStringLiteral("COMMIT"));
    } catch (const db::DbError&) {
        try {
            log.execute(QStringLiteral("ROLLBACK"));
        } catch (const db::DbError&) {
            // The transaction is gone already; the first error is the one told.
        }
        throw;
    }
    if (unmatched) *unmatched << missed;
}

DeliveryLog::DeliveryLog(QString dir, TraceLog& trace) : m_dir(std::move(dir)), m_trace(trace) {}

DeliveryLog::~DeliveryLog() = default;

db::Database* DeliveryLog::store() {
    if (!m_db) {
        try {
            m_db = logstore::open(m_dir);
            m_db->setBusyTimeout(kBusyMs);
        } catch (const db::DbError& e) {
            const QString fault = QString::fromLocal8Bit(e.what());
            if (fault != m_lastFault) {
                m_trace.note(QStringLiteral("the log store cannot be opened: %1").arg(fault));
                m_lastFault = fault;
            }
        }
    }
    return m_db.get();
}

void DeliveryLog::traceUnmatched(const QStringList& messageIds) {
    for (const QString& m : messageIds) {
        m_trace.note(
            QStringLiteral("receipt for %1 matches no page awaiting one (kept %2 minutes for "
                           "a page not yet noted)")
                .arg(m)
                .arg(delivery::kEarlyMinutes));
    }
}

bool DeliveryLog::importNotes() {
    return deliverynotes::drain(m_dir, [this](const QList<deliverynotes::Note>& notes) {
        db::Database* db = store();
        if (!db) return false;
        try {
            QStringList unmatched;
            keepDeliveryNotes(*db, notes, &unmatched);
            traceUnmatched(unmatched);
            m_lastFault.clear();
            return true;
        } catch (const db::DbError& e) {
            const QString fault = QString::fromLocal8Bit(e.what());
            if (fault != m_lastFault) {
                m_trace.note(QStringLiteral("delivery notes wait in %1: %2")
                                 .arg(deliverynotes::fileName(), fault));
                m_lastFault = fault;
            }
            return false;
        }
    });
}

}  // namespace vts
