#pragma once

#include "Line.h"
#include "TapCall.h"
#include "TcpLine.h"
#include "Transport.h"

#include <memory>

// The paging protocol over a TCP connection to a paging terminal: the
// same exchange as after a modem's CONNECT, without AT commands. Numeric
// pages go as transactions whose message is the digits.
namespace vts {

class TapTcpTransport final : public Transport {
public:
    using Transport::Transport;
    PortTarget::Kind kind() const override { return PortTarget::Kind::TapTcp; }

protected:
    QList<Page*> take(const QList<Page*>& pages) override;
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override { return m_call->send(page); }
    void close(const QList<Page*>& pages) override;

private:
    TcpLine m_line;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<TapCall> m_call;
};

}  // namespace vts
