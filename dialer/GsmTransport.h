#pragma once

#include "Dialer.h"
#include "Transport.h"

// Pages as SMS through a GSM modem: the record's PIN field holds the
// mobile number (the paging service's number is not dialled). PDU mode;
// the SIM's PIN from calvex.ini when the modem asks for it; one AT+CMGS per
// part of a long text. The modem's message reference and any +CMS ERROR
// go to the trace.
namespace vts {

class GsmTransport final : public TargetTransport {
public:
    using TargetTransport::TargetTransport;
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;
};

}  // namespace vts
