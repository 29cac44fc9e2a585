#include "DeliveryLog.h"

#include "DeliveryStore.h"
#include "LogStore.h"
#include "TraceLog.h"

#include <QDateTime>

namespace vts {

namespace {

constexpr int kBusyMs = 2000;  // a moment of the server's or a reader's lock

}  // namespace

DeliveryLog::DeliveryLog(QString dir, TraceLog& trace) : m_dir(std::move(dir)), m_trace(trace) {}

DeliveryLog::~DeliveryLog() = default;

db::Database* DeliveryLog::store() {
    if (!m_db && !m_failed) {
        try {
            m_db = logstore::open(m_dir);
            m_db->setBusyTimeout(kBusyMs);
        } catch (const db::DbError& e) {
            m_failed = true;
            m_trace.note(QStringLiteral("delivery notes not kept: %1")
                             .arg(QString::fromLocal8Bit(e.what())));
        }
    }
    return m_db.get();
}

void DeliveryLog::submitted(qint64 id, const QStringList& messageIds, const QDateTime& at) {
    if (id < 1 || messageIds.isEmpty()) return;
    if (db::Database* db = store()) {
        try {
            delivery::noteSubmitted(*db, id, messageIds, at);
        } catch (const db::DbError& e) {
            m_trace.note(QStringLiteral("delivery note for ID=%1 not kept: %2")
                             .arg(id)
                             .arg(QString::fromLocal8Bit(e.what())));
        }
    }
}

void DeliveryLog::receipt(const QString& messageId, bool delivered, const QString& reason,
                          const QDateTime& at) {
    if (db::Database* db = store()) {
        try {
            const int n = delivery::noteReceipt(*db, messageId, delivered, reason, at);
            if (n == 0) {
                m_trace.note(
                    QStringLiteral("receipt for %1 matches no page awaiting one").arg(messageId));
            }
        } catch (const db::DbError& e) {
            m_trace.note(QStringLiteral("receipt for %1 not kept: %2")
                             .arg(messageId, QString::fromLocal8Bit(e.what())));
        }
    }
}

}  // namespace vts
