#pragma once

#include "GatewayConfig.h"

#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

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
// the limits (in all and per address), and closes a connection that sends
// no complete command for the idle time, stays open for the session time or
// leaves more than a bounded backlog of replies unread (timers through the
// EventLoop seam).
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
    // The certificate and key TLS connections use.
    const QSslConfiguration& tlsConfiguration() const { return m_tls; }
    // Reads the certificate and key again (SIGHUP); on a failure the
    // previous ones stay and a log line says why.
    void reloadTls();
    // Bytes taken from all clients so far.
    quint64 bytesReceived() const { return m_bytesReceived; }

private:
    struct Connection;
    void accept(QTcpServer* server, const IntakeProtocol& intake);
    void drop(QTcpSocket* socket);
    void watchClosing(QTcpSocket* socket, Connection* conn);
    bool loadTls(const GatewayConfig& config, QString* error);
    void refreshTls();
    void forget(Connection* conn);

    PageSubmitter& m_desk;
    EventLoop& m_loop;
    std::map<QString, QTcpServer*> m_servers;
    std::map<QTcpSocket*, std::unique_ptr<Connection>> m_connections;
    std::vector<std::unique_ptr<Connection>> m_closing;
    quint64 m_bytesReceived = 0;
    QSslConfiguration m_tls;
    QStringList m_tlsFiles;
    qint64 m_tlsStamp = 0;  // refused or gone, awaiting removal
};

}  // namespace vts::gate
