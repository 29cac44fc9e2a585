#include "BoundedServer.h"

#include <QPointer>
#include <QSslSocket>

namespace vts::web {

void boundSocket(QTcpSocket* socket) {
    auto unanswered = std::make_shared<qint64>(0);
    QObject::connect(socket, &QIODevice::bytesWritten, socket, [unanswered](qint64) {
        if (*unanswered > 0) *unanswered = 0;  // answered: the client may send its next request
    });
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket, unanswered] {
        if (*unanswered < 0) {  // already refused: drop whatever still comes
            socket->readAll();
            return;
        }
        // The library drains the socket after this slot, so what is there
        // now arrived since the last call.
        *unanswered += socket->bytesAvailable();
        if (*unanswered <= kMaxUnanswered) return;
        *unanswered = -1;
        socket->readAll();
        socket->write(
            "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 24\r\nConnection: close\r\n\r\nThe request is too large");
        socket->disconnectFromHost();
    });
}

void BoundedTcpServer::incomingConnection(qintptr handle) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    boundSocket(socket);
    addPendingConnection(socket);
}

void BoundedSslServer::incomingConnection(qintptr handle) {
    auto* socket = new QSslSocket(this);
    socket->setSslConfiguration(sslConfiguration());
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    boundSocket(socket);
    QPointer<QSslSocket> guard(socket);
    connect(socket, &QSslSocket::encrypted, this, [this, guard] {
        if (guard) addPendingConnection(guard);
    });
    // A client that drops or fails the handshake is never handed on.
    connect(socket, &QAbstractSocket::disconnected, socket, [socket] {
        if (!socket->isEncrypted()) socket->deleteLater();
    });
    connect(socket, &QSslSocket::sslErrors, socket,
            [socket](const QList<QSslError>&) { socket->abort(); });
    socket->startServerEncryption();
}

}  // namespace vts::web
