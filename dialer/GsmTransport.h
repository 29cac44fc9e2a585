#pragma once

#include "Dialer.h"
#include "Transport.h"

// Pages as SMS through a GSM modem: the record's PIN field holds the
// mobile number (the paging service's number is not dialled). PDU mode;
// the SIM's PIN from calvex.ini when the modem asks for it; one AT+CMGS per
// part of a long text. The modem's message reference and any +CMS ERROR
// go to the trace.
namespace vts {

class GsmTransport final : public Transport {
public:
    GsmTransport(PortTarget target, DialerOptions options)
        : m_target(std::move(target)), m_opt(std::move(options)) {}
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;

private:
    PortTarget m_target;
    DialerOptions m_opt;
};

}  // namespace vts
