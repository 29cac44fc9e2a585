#pragma once

#include "Dialer.h"
#include "Transport.h"

// Pages by dial-up modem: one call for the alphanumeric and file pages
// (the paging protocol after CONNECT), one dial per numeric page.
namespace vts {

class ModemTransport final : public TargetTransport {
public:
    using TargetTransport::TargetTransport;
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;
};

}  // namespace vts
