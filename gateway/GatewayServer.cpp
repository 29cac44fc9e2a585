#include "GatewayServer.h"

#include "EventLoop.h"
#include "IntakeProtocols.h"
#include "PageSubmitter.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace vts::gate {

namespace {

// What may wait unsent for a client before it counts as one that does not
// read its replies; far more than any reply a well-behaved client lets pile up.
constexpr qint64 kMaxBacklog = qint64{64} * 1024;
// How long a closing connection may take to hand over its last reply.
constexpr int kLingerMs = 5000;

QString addressOf(const QHostAddress& a) {
    bool v4 = false;
    const quint32 mapped = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(mapped).toString() : a.toString();
}

}  // namespace

// Hands out QSslSocket for every connection, so that a plain one can still
// turn to TLS (STARTTLS); on a TLS listener the handshake starts at once.
class SslListener final : public QTcpServer {
public:
    SslListener(GatewayServer& owner, bool implicitTls)
        : QTcpServer(&owner), m_owner(owner), m_implicit(implicitTls) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_implicit) {
            socket->setSslConfiguration(m_owner.tlsConfiguration());
            socket->startServerEncryption();
        }
        addPendingConnection(socket);
    }

private:
    GatewayServer& m_owner;
    bool m_implicit;
};

struct GatewayServer::Connection {
    QString address;
    std::unique_ptr<Session> session;
    std::unique_ptr<Timer> idle;
    std::unique_ptr<Timer> lifetime;
    std::unique_ptr<Timer> linger;
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
        const bool tls = l->tls;
        if (tls && m_tls.localCertificate().isNull()) {
            QString why;
            if (!loadTls(config, &why)) {
                *error = QStringLiteral("%1: %2").arg(protocol, why);
                return false;
            }
        }
        auto* server = new SslListener(*this, tls);
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
                           QStringLiteral("listening on %1:%2%3")
                               .arg(server->serverAddress().toString())
                               .arg(server->serverPort())
                               .arg(tls ? QStringLiteral(" (TLS)") : QString()));
        const bool secured = tls || (protocol == QLatin1String("SMTP") && config.starttls);
        if (!secured && !l->address.isLoopback()) {
            m_desk.log().write(protocol, QString(),
                               QStringLiteral("warning: listening beyond loopback without TLS; "
                                              "texts and secrets cross the network readable"));
        }
    }
    if (config.starttls && m_tls.localCertificate().isNull() && !loadTls(config, error)) {
        return false;
    }
    return true;
}

bool GatewayServer::loadTls(const GatewayConfig& config, QString* error) {
    QFile certFile(config.tlsCert);
    QFile keyFile(config.tlsKey);
    if (!certFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate %1").arg(config.tlsCert);
        return false;
    }
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the key %1").arg(config.tlsKey);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
    const QByteArray keyPem = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(keyPem, a, QSsl::Pem);
        if (!key.isNull()) {
            break;
        }
    }
    if (chain.isEmpty() || key.isNull()) {
        *error = chain.isEmpty() ? QStringLiteral("no PEM certificate in %1").arg(config.tlsCert)
                                 : QStringLiteral("no PEM private key in %1").arg(config.tlsKey);
        return false;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificateChain(chain);
    conf.setPrivateKey(key);
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);  // clients show no certificate
    m_tls = conf;
    m_tlsFiles = {config.tlsCert, config.tlsKey};
    m_tlsStamp = QFileInfo(config.tlsCert).lastModified().toMSecsSinceEpoch() ^
                 QFileInfo(config.tlsKey).lastModified().toMSecsSinceEpoch();
    return true;
}

void GatewayServer::reloadTls() {
    const GatewayConfig& config = m_desk.settings();
    if (!config.anyTls()) {
        return;
    }
    QString error;
    m_desk.log().write(
        QStringLiteral("TLS"), QString(),
        loadTls(config, &error)
            ? QStringLiteral("certificate %1 loaded").arg(config.tlsCert)
            : QStringLiteral("certificate not reloaded, the previous one stays: %1").arg(error));
}

void GatewayServer::refreshTls() {
    // A new certificate (renewed file, or other files named in a reloaded
    // vtsgate.ini) is taken at the next connection.
    const GatewayConfig& config = m_desk.settings();
    if (!config.anyTls()) {
        return;
    }
    const qint64 stamp = QFileInfo(config.tlsCert).lastModified().toMSecsSinceEpoch() ^
                         QFileInfo(config.tlsKey).lastModified().toMSecsSinceEpoch();
    if (stamp != m_tlsStamp || m_tlsFiles != QStringList{config.tlsCert, config.tlsKey}) {
        reloadTls();
        m_tlsStamp = stamp;  // a broken file is reported once, not at every connection
        m_tlsFiles = {config.tlsCert, config.tlsKey};
    }
}

quint16 GatewayServer::port(const QString& protocol) const {
    const auto it = m_servers.find(protocol);
    return it == m_servers.end() ? 0 : it->second->serverPort();
}

void GatewayServer::accept(QTcpServer* server, const IntakeProtocol& intake) {
    const QString protocol = QString::fromLatin1(intake.name);
    refreshTls();
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        const GatewayConfig& config = m_desk.settings();
        auto* ssl = qobject_cast<QSslSocket*>(socket);
        const QString address = addressOf(socket->peerAddress());
        const QString peer = QStringLiteral("%1:%2").arg(address).arg(socket->peerPort());
        auto c = std::make_unique<Connection>();
        c->address = address;
        QPointer<QTcpSocket> guard(socket);
        Connection* conn = c.get();
        c->linger = m_loop.createTimer(kLingerMs, [guard] {
            if (guard) {
                guard->abort();  // the client does not take its last reply
            }
        });
        c->linger->setSingleShot(true);
        Session::Io io{
            [this, guard, protocol, peer](const QByteArray& bytes) {
                if (!guard) {
                    return false;
                }
                if (guard->bytesToWrite() + bytes.size() > kMaxBacklog) {
                    m_desk.log().write(protocol, peer,
                                       QStringLiteral("refused: client does not read its replies "
                                                      "(%1 bytes unsent), disconnected")
                                           .arg(guard->bytesToWrite()));
                    // Not from inside the session's own call.
                    QMetaObject::invokeMethod(guard, &QTcpSocket::abort, Qt::QueuedConnection);
                    return false;
                }
                guard->write(bytes);
                return true;
            },
            [guard, conn] {
                if (guard) {
                    guard->disconnectFromHost();
                    if (guard->state() != QAbstractSocket::UnconnectedState) {
                        conn->linger->start();
                    }
                }
            },
            [this, ssl] {
                if (!ssl || ssl->isEncrypted() || m_tls.localCertificate().isNull()) {
                    return false;
                }
                ssl->setSslConfiguration(m_tls);
                ssl->startServerEncryption();
                return true;
            },
            [ssl] { return ssl && ssl->mode() != QSslSocket::UnencryptedMode; }};
        if (ssl) {
            connect(ssl, &QSslSocket::errorOccurred, this,
                    [this, ssl, protocol, peer](QAbstractSocket::SocketError e) {
                        if (e == QAbstractSocket::SslHandshakeFailedError ||
                            e == QAbstractSocket::SslInternalError ||
                            e == QAbstractSocket::SslInvalidUserDataError) {
                            m_desk.log().write(protocol, peer,
                                               QStringLiteral("refused: TLS handshake failed: %1")
                                                   .arg(ssl->errorString()));
                        }
                    });
        }
        // The rate limit counts pages per address, whatever the port.
        c->session = intake.session(m_desk, address, io);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (!config.allowed(socket->peerAddress())) {
            m_desk.log().write(protocol, peer, QStringLiteral("refused: address not allowed"));
            c->session->refuse(Session::Refusal::NotAllowed, QStringLiteral("address not allowed"));
            m_closing.push_back(std::move(c));
            watchClosing(socket, conn);
            continue;
        }
        const int fromAddress = static_cast<int>(std::count_if(
            m_connections.begin(), m_connections.end(),
            [&address](const auto& entry) { return entry.second->address == address; }));
        if (connections() >= config.limits.maxConnections ||
            fromAddress >= config.limits.maxPerAddress) {
            const bool perAddress = connections() < config.limits.maxConnections;
            m_desk.log().write(protocol, peer,
                               perAddress
                                   ? QStringLiteral("refused: %1 connections already open from %2")
                                         .arg(config.limits.maxPerAddress)
                                         .arg(address)
                                   : QStringLiteral("refused: %1 connections already open")
                                         .arg(config.limits.maxConnections));
            c->session->refuse(Session::Refusal::Busy,
                               QStringLiteral("too many connections, try again later"));
            m_closing.push_back(std::move(c));
            watchClosing(socket, conn);
            continue;
        }
        Session* s = c->session.get();
        const int idleSeconds = protocol == QLatin1String("SMTP") ? config.limits.smtpIdleSeconds
                                                                  : config.limits.idleSeconds;
        auto expire = [guard, conn, s] {
            if (!s->closed()) {
                s->timedOut();
            }
            // Closed however much is still unsent: a client that does not
            // read keeps no slot past its time.
            if (guard && guard->state() != QAbstractSocket::UnconnectedState &&
                !conn->linger->isActive()) {
                conn->linger->start();
            }
        };
        c->idle = m_loop.createTimer(idleSeconds * 1000, expire);
        c->idle->setSingleShot(true);
        c->idle->start();
        c->lifetime = m_loop.createTimer(config.limits.sessionSeconds * 1000, expire);
        c->lifetime->setSingleShot(true);
        c->lifetime->start();
        Timer* idle = c->idle.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, s, idle] {
            const QByteArray bytes = socket->readAll();
            m_bytesReceived += static_cast<quint64>(bytes.size());
            if (s->closed()) {
                return;
            }
            const quint64 before = s->progress();
            s->receive(bytes);
            // Only a complete command starts the idle time again: a drip of
            // bytes that never ends a line does not keep a slot.
            if (s->progress() != before && !s->closed()) {
                idle->start();
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        m_connections[socket] = std::move(c);
        s->start();
    }
}

void GatewayServer::watchClosing(QTcpSocket* socket, Connection* conn) {
    // A refused client holds no slot, but its reply still gets a moment to
    // go out before the socket is cut.
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        forget(conn);
        return;
    }
    conn->linger->start();
    connect(socket, &QTcpSocket::disconnected, this, [this, conn] { forget(conn); });
}

void GatewayServer::forget(Connection* conn) {
    // Removed from the loop, not from inside the socket's own signal.
    QMetaObject::invokeMethod(
        this,
        [this, conn] {
            std::erase_if(m_closing, [conn](const auto& c) { return c.get() == conn; });
        },
        Qt::QueuedConnection);
}

void GatewayServer::drop(QTcpSocket* socket) {
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) {
        return;
    }
    // The session may be the caller (an abort inside its own reply), so it
    // is destroyed from the loop, not here.
    m_closing.push_back(std::move(it->second));
    m_connections.erase(it);
    forget(m_closing.back().get());
}

}  // namespace vts::gate
