#pragma once

#include "Dialer.h"
#include "Transport.h"

// The paging protocol over a TCP connection to a paging terminal: the
// same exchange as after a modem's CONNECT, without AT commands. Numeric
// pages go as transactions whose message is the digits.
namespace vts {

class TapTcpTransport final : public Transport {
public:
    TapTcpTransport(PortTarget target, DialerOptions options)
        : m_target(std::move(target)), m_opt(std::move(options)) {}
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;

private:
    PortTarget m_target;
    DialerOptions m_opt;
};

}  // namespace vts
