#include "ReceiptReceiver.h"

#include "DeliveryNotes.h"
#include "Journal.h"
#include "SmppTransport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QLockFile>

#include <cstdio>

namespace vts {

ReceiptReceiver::ReceiptReceiver(QString dir, DialerOptions options)
    : m_dir(std::move(dir)), m_opt(std::move(options)), m_delivery(m_dir, m_trace) {}

void ReceiptReceiver::receipt(const QString& messageId, bool delivered, const QString& reason) {
    importNotes();  // the run that sent it may have noted its ID a moment ago
    m_delivery.receipt(messageId, delivered, reason, QDateTime::currentDateTime());
}

void ReceiptReceiver::importNotes() {
    for (const QJsonObject& n : deliverynotes::take(m_dir)) {
        QDateTime at = QDateTime::fromString(n.value(QLatin1String("at")).toString(), Qt::ISODate);
        if (!at.isValid()) {
            at = QDateTime::currentDateTime();
        }
        const QString kind = n.value(QLatin1String("kind")).toString();
        if (kind == u"submitted") {
            QStringList ids;
            for (const auto& v : n.value(QLatin1String("message_ids")).toArray()) {
                ids << v.toString();
            }
            m_delivery.submitted(n.value(QLatin1String("id")).toInteger(), ids, at);
        } else if (kind == u"receipt") {
            m_delivery.receipt(n.value(QLatin1String("message_id")).toString(),
                               n.value(QLatin1String("delivered")).toBool(),
                               n.value(QLatin1String("reason")).toString(), at);
        }
    }
}

int ReceiptReceiver::run(int comPort) {
    QString error;
    const auto target = PortTarget::parse(m_opt.devicePath(comPort), &error);
    if (!target ||
        (target->kind != PortTarget::Kind::Smpp && target->kind != PortTarget::Kind::Smpps)) {
        journal::write(stderr, journal::kWarning,
                       QStringLiteral("vtsreceipts: COM%1 is no SMPP port%2")
                           .arg(comPort)
                           .arg(error.isEmpty() ? QString() : QStringLiteral(": ") + error));
        return 2;
    }
    QLockFile lock(m_dir + QStringLiteral("/calvex-receiver%1.lock").arg(comPort));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        journal::write(stderr, journal::kWarning,
                       QStringLiteral("vtsreceipts: another receiver serves COM%1").arg(comPort));
        return 3;
    }
    m_trace.setLimit(m_opt.traceLimit);
    m_trace.open(m_dir + QStringLiteral("/KRX%1-receipts.log").arg(comPort));
    if (m_opt.smpp.password.size() >= 4) {
        m_trace.addMask(m_opt.smpp.password, QStringLiteral("***"));
    }
    journal::write(stderr, journal::kInfo,
                   QStringLiteral("vtsreceipts: receiving delivery receipts from the %1")
                       .arg(target->describe()));
    importNotes();
    SmppTransport(*target, m_opt).receive(*this, [this] { importNotes(); });
    importNotes();
    journal::write(stderr, journal::kInfo,
                   QStringLiteral("vtsreceipts: receiver for COM%1 stopped").arg(comPort));
    return 0;
}

}  // namespace vts
