#pragma once

#include "Line.h"
#include "Transport.h"

#include <memory>

// Pages as SMS through a GSM modem: the record's PIN field holds the
// mobile number (the paging service's number is not dialled). PDU mode;
// the SIM's PIN from calvex.ini when the modem asks for it; one AT+CMGS per
// part of a long text. The modem's message reference and any +CMS ERROR
// go to the trace.
namespace vts {

class GsmTransport final : public Transport {
public:
    GsmTransport(PortTarget target, const DialerOptions& options);
    ~GsmTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Gsm; }

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    class AtChannel;

    SerialPort m_port;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<AtChannel> m_at;
    int m_reference = 0;  // of the next long text's parts
};

}  // namespace vts
