#include "GatewayServer.h"

#include "EventLoop.h"
#include "IntakeProtocols.h"
#include "PageSubmitter.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace vts::gate {

struct GatewayServer::Connection {
    std::unique_ptr<Session> session;
    std::unique_ptr<Timer> idle;
    std::unique_ptr<Timer> lifetime;
};

GatewayServer::GatewayServer(PageSubmitter& desk, EventLoop& loop) : m_desk(desk), m_loop(loop) {}

GatewayServer::~GatewayServer() {
    for (auto& [socket, c] : m_connections) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

bool GatewayServer::listen(const GatewayConfig& config, QString* error) {
    for (const IntakeProtocol& p : intakeProtocols()) {
        const QString protocol = QString::fromLatin1(p.name);
        const Listen* l = &(config.*p.listen);
        if (!l->enabled) {
            continue;
        }
        auto* server = new QTcpServer(this);
        if (!server->listen(l->address, l->port)) {
            *error = QStringLiteral("%1: cannot listen on %2:%3: %4")
                         .arg(protocol, l->address.toString())
                         .arg(l->port)
                         .arg(server->errorString());
            return false;
        }
        server->setMaxPendingConnections(64);
        connect(server, &QTcpServer::newConnection, this,
                [this, server, &p] { accept(server, p); });
        m_servers[protocol] = server;
        m_desk.log().write(protocol, QString(),
                           QStringLiteral("listening on %1:%2")
                               .arg(server->serverAddress().toString())
                               .arg(server->serverPort()));
    }
    return true;
}

quint16 GatewayServer::port(const QString& protocol) const {
    const auto it = m_servers.find(protocol);
    return it == m_servers.end() ? 0 : it->second->serverPort();
}

void GatewayServer::accept(QTcpServer* server, const IntakeProtocol& intake) {
    const QString protocol = QString::fromLatin1(intake.name);
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        const GatewayConfig& config = m_desk.settings();
        const QString peer =
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        QPointer<QTcpSocket> guard(socket);
        Session::Io io{[guard](const QByteArray& bytes) {
                           if (guard) {
                               guard->write(bytes);
                           }
                       },
                       [guard] {
                           if (guard) {
                               guard->disconnectFromHost();
                           }
                       }};
        // The rate limit counts pages per address, whatever the port.
        std::unique_ptr<Session> session =
            intake.session(m_desk, socket->peerAddress().toString(), io);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (!config.allowed(socket->peerAddress())) {
            m_desk.log().write(protocol, peer, QStringLiteral("refused: address not allowed"));
            session->refuse(QStringLiteral("address not allowed"));
            continue;
        }
        if (connections() >= config.limits.maxConnections) {
            m_desk.log().write(protocol, peer,
                               QStringLiteral("refused: %1 connections already open")
                                   .arg(config.limits.maxConnections));
            session->refuse(QStringLiteral("too many connections, try again later"));
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->session = std::move(session);
        Session* s = c->session.get();
        c->idle = m_loop.createTimer(config.limits.idleSeconds * 1000, [s] {
            if (!s->closed()) {
                s->timedOut();
            }
        });
        c->idle->setSingleShot(true);
        c->idle->start();
        c->lifetime = m_loop.createTimer(config.limits.sessionSeconds * 1000, [s] {
            if (!s->closed()) {
                s->timedOut();
            }
        });
        c->lifetime->setSingleShot(true);
        c->lifetime->start();
        Timer* idle = c->idle.get();
        connect(socket, &QTcpSocket::readyRead, this, [socket, s, idle] {
            idle->start();
            const QByteArray bytes = socket->readAll();
            if (!s->closed()) {
                s->receive(bytes);
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        m_connections[socket] = std::move(c);
        s->start();
    }
}

void GatewayServer::drop(QTcpSocket* socket) { m_connections.erase(socket); }

}  // namespace vts::gate
