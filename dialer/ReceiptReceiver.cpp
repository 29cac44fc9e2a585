#include "ReceiptReceiver.h"

#include "DeliveryNotes.h"
#include "Journal.h"
#include "SmppTransport.h"

#include <QLockFile>

#include <cstdio>

namespace vts {

ReceiptReceiver::ReceiptReceiver(QString dir, DialerOptions options)
    : m_dir(std::move(dir)), m_opt(std::move(options)), m_delivery(m_dir, m_trace) {}

void ReceiptReceiver::receipt(const QString& messageId, bool delivered, const QString& reason) {
    // The receipt waits behind the notes of the run that sent its page (the
    // submission may have been noted a moment ago), and with them when the
    // store does not take them now.
    if (!deliverynotes::append(m_dir, deliverynotes::receiptNote(messageId, delivered, reason))) {
        m_trace.note(QStringLiteral("receipt for %1 not kept: %2 cannot be written")
                         .arg(messageId, deliverynotes::fileName()));
    }
    importNotes();
}

void ReceiptReceiver::importNotes() { m_delivery.importNotes(); }

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
