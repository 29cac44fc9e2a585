#pragma once

#include "DeliveryLog.h"
#include "Dialer.h"
#include "TraceLog.h"
#include "Transport.h"

// vtsreceipts N: keeps a receiver bound to the SMS centre of COM port N
// while the server runs, so that delivery receipts arriving after a dialer
// run has ended still reach tblDelivery, and moves the dialer's delivery
// notes (see DeliveryNotes.h) into tblDelivery every few seconds and
// before each receipt. One receiver per port and working directory (a
// lock file beside the stores); its trace is KRX<N>-receipts.log, bounded
// as the dialer's.
namespace vts {

class ReceiptReceiver final : public Batch {
public:
    ReceiptReceiver(QString dir, DialerOptions options);
    // Exit status: 0 after a stop request, 2 when the port is no SMPP port,
    // 3 when another receiver serves it.
    int run(int comPort);

    void setStatus(Page&, PortStatus, const QString&, bool) override {}
    void portFault(bool, const QString&) override {}
    TraceLog& trace() override { return m_trace; }
    void receipt(const QString& messageId, bool delivered, const QString& reason) override;
    // Moves the dialer's notes into the store.
    void importNotes();

private:
    QString m_dir;
    DialerOptions m_opt;
    TraceLog m_trace;
    DeliveryLog m_delivery;
};

}  // namespace vts
