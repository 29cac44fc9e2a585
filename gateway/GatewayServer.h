#pragma once

#include "GatewayConfig.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace vts {
class EventLoop;
}

namespace vts::gate {

class PageSubmitter;
class Session;
struct IntakeProtocol;

// Listens for each intake protocol (IntakeProtocols.h) as vtsgate.ini says and runs one Session
// per connection: refuses addresses outside `allow` and connections beyond
// the limit, and closes a connection that stays silent for the idle time or
// open for the session time (timers through the EventLoop seam).
class GatewayServer final : public QObject {
    Q_OBJECT
public:
    GatewayServer(PageSubmitter& desk, EventLoop& loop);
    ~GatewayServer() override;

    // Opens the listeners; false and *error when one cannot listen.
    bool listen(const GatewayConfig& config, QString* error);
    // The port a protocol ("SNPP", "SMTP", "HTTP") listens on, 0 when off.
    quint16 port(const QString& protocol) const;
    int connections() const { return static_cast<int>(m_connections.size()); }

private:
    struct Connection;
    void accept(QTcpServer* server, const IntakeProtocol& intake);
    void drop(QTcpSocket* socket);

    PageSubmitter& m_desk;
    EventLoop& m_loop;
    std::map<QString, QTcpServer*> m_servers;
    std::map<QTcpSocket*, std::unique_ptr<Connection>> m_connections;
};

}  // namespace vts::gate
