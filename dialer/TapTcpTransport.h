#pragma once

#include "Dialer.h"
#include "Transport.h"

// The paging protocol over a TCP connection to a paging terminal: the
// same exchange as after a modem's CONNECT, without AT commands. Numeric
// pages go as transactions whose message is the digits.
namespace vts {

class TapTcpTransport final : public TargetTransport {
public:
    using TargetTransport::TargetTransport;
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;
};

}  // namespace vts
