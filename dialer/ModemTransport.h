#pragma once

#include "HayesModem.h"
#include "Line.h"
#include "TapCall.h"
#include "Transport.h"

#include <memory>

// Pages by dial-up modem: one call for the alphanumeric and file pages
// (the paging protocol after CONNECT), then one dial per numeric page.
// The call is dialled for the first text page and ended before the first
// numeric dial (or at the close).
namespace vts {

class ModemTransport final : public Transport {
public:
    using Transport::Transport;
    ~ModemTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Modem; }

protected:
    QList<Page*> take(const QList<Page*>& pages) override;
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    enum class Call { NotDialled, Up, Over };
    // Dials for the text pages and logs on; the pages fail when it cannot.
    void dialCall();
    // Logs off, fails the text pages not confirmed and hangs up.
    void endCall();
    Outcome dialNumeric(Page& page);
    void hangUp(bool carrierGone);
    double hangupWait() const;

    QList<Page*> m_all, m_text, m_numeric;
    SerialPort m_port;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<HayesModem> m_modem;
    std::unique_ptr<TapCall> m_call;
    QByteArray m_number, m_dial;
    Call m_state = Call::NotDialled;
};

}  // namespace vts
