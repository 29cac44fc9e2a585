#pragma once

#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>

// The console's listening sockets. Each connection may send at most
// kMaxUnanswered bytes between two of the console's answers: a request
// (line, headers and body) larger than that, or a client that keeps sending
// without reading its answers, gets "413 Payload Too Large" and the
// connection is closed, before the HTTP library has buffered it all.
namespace vts::web {

constexpr qint64 kMaxUnanswered = qint64{1024} * 1024;

// Counts what `socket` receives before anyone reads it; call before the
// HTTP library connects to the socket, so this runs first on each arrival.
void boundSocket(QTcpSocket* socket);

class BoundedTcpServer final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr handle) override;
};

// TLS: the handshake first; the connection is handed on once encrypted.
class BoundedSslServer final : public QSslServer {
public:
    using QSslServer::QSslServer;

protected:
    void incomingConnection(qintptr handle) override;
};

}  // namespace vts::web
