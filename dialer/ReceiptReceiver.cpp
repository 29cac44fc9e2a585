#include "ReceiptReceiver.h"

#include "Journal.h"
#include "SmppTransport.h"

#include <QLockFile>

#include <cstdio>

namespace vts {

ReceiptReceiver::ReceiptReceiver(QString dir, DialerOptions options)
    : m_dir(std::move(dir)), m_opt(std::move(options)), m_delivery(m_dir, m_trace) {}

void ReceiptReceiver::receipt(const QString& messageId, bool delivered, const QString& reason) {
    m_delivery.receipt(messageId, delivered, reason);
}

int ReceiptReceiver::run(int comPort) {
    QString error;
    const auto target = PortTarget::parse(m_opt.devicePath(comPort), &error);
    if (!target ||
        (target->kind != PortTarget::Kind::Smpp && target->kind != PortTarget::Kind::Smpps)) {
        journal::write(stderr, journal::kWarning,
                       QStringLiteral("calvex: COM%1 is no SMPP port%2")
                           .arg(comPort)
                           .arg(error.isEmpty() ? QString() : QStringLiteral(": ") + error));
        return 2;
    }
    QLockFile lock(m_dir + QStringLiteral("/calvex-receiver%1.lock").arg(comPort));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        journal::write(stderr, journal::kWarning,
                       QStringLiteral("calvex: another receiver serves COM%1").arg(comPort));
        return 3;
    }
    m_trace.setLimit(m_opt.traceLimit);
    m_trace.open(m_dir + QStringLiteral("/KRX%1-receipts.log").arg(comPort));
    if (m_opt.smpp.password.size() >= 4) {
        m_trace.addMask(m_opt.smpp.password, QStringLiteral("***"));
    }
    journal::write(
        stderr, journal::kInfo,
        QStringLiteral("calvex: receiving delivery receipts from the %1").arg(target->describe()));
    SmppTransport(*target, m_opt).receive(*this);
    journal::write(stderr, journal::kInfo,
                   QStringLiteral("calvex: receiver for COM%1 stopped").arg(comPort));
    return 0;
}

}  // namespace vts
