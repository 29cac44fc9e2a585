#pragma once

#include "Dialer.h"
#include "Transport.h"

// Pages by dial-up modem: one call for the alphanumeric and file pages
// (the paging protocol after CONNECT), one dial per numeric page.
namespace vts {

class ModemTransport final : public Transport {
public:
    ModemTransport(PortTarget target, DialerOptions options)
        : m_target(std::move(target)), m_opt(std::move(options)) {}
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;

private:
    PortTarget m_target;
    DialerOptions m_opt;
};

}  // namespace vts
