#include "HttpGet.h"

#include <QTcpSocket>

namespace vts {

HttpGet::HttpGet(EventLoop& loop, QObject* parent) : QObject(parent), m_loop(loop) {}

HttpGet::~HttpGet() { abort(); }

std::optional<qint64> HttpGet::contentLength() const {
    return m_parser ? m_parser->contentLength() : std::nullopt;
}

void HttpGet::start(const QString& host, quint16 port, const QByteArray& request) {
    abort();
    m_request = request;
    m_total = 0;
    m_running = true;
    m_parser = std::make_unique<HttpResponseParser>(m_limits);
    m_parser->onStatus = [](int status, const QByteArray&) { return status == 200; };
    m_parser->onHeader = [this](const QByteArray& n, const QByteArray& v) { emit header(n, v); };
    m_parser->onBodyStart = [this] { emit bodyStarted(); };
    m_parser->onBody = [this](const QByteArray& piece) {
        m_total += piece.size();
        emit bodyPiece(piece, m_total);
    };
    m_idle = m_loop.createTimer(m_idleMs, [this] {
        end(false,
            QStringLiteral("no answer from the server for %1 seconds").arg(m_idleMs / 1000.0));
    });
    m_idle->setSingleShot(true);
    m_idle->start();

    m_socket = std::make_unique<QTcpSocket>();
    connect(m_socket.get(), &QTcpSocket::connected, this, &HttpGet::onConnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &HttpGet::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &HttpGet::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &HttpGet::onSocketError);
    m_socket->connectToHost(host, port);
}

void HttpGet::abort() {
    m_running = false;
    if (m_idle) m_idle->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        // The socket may be inside one of its own signals right now.
        m_socket.release()->deleteLater();
    }
}

void HttpGet::touch() {
    if (m_idle) m_idle->start();
}

void HttpGet::onConnected() {
    touch();
    m_socket->write(m_request);
    emit connected();
}

void HttpGet::onReadyRead() {
    touch();
    readAvailable();
    afterInput();
}

void HttpGet::readAvailable() {
    while (m_running && m_socket && m_socket->bytesAvailable() > 0) {
        const QByteArray piece = m_socket->read(m_pieceBytes);
        if (piece.isEmpty()) break;
        m_parser->feed(piece);
        if (m_parser->isDone() || m_parser->isFailed()) break;
    }
}

void HttpGet::afterInput() {
    if (!m_running) return;
    if (m_parser->isFailed())
        end(false, m_parser->error());
    else if (m_parser->isDone())
        end(true);
}

void HttpGet::onDisconnected() {
    if (!m_running) return;
    readAvailable();
    if (m_running && !m_parser->isDone() && !m_parser->isFailed()) m_parser->finishInput();
    afterInput();
}

void HttpGet::onSocketError() {
    if (!m_running || !m_socket) return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        onDisconnected();
        return;
    }
    readAvailable();
    if (m_running && m_parser->isDone()) {
        end(true);
        return;
    }
    end(false, m_socket->errorString());
}

void HttpGet::end(bool ok, const QString& why) {
    if (!m_running) return;
    abort();
    if (ok)
        emit finished();
    else
        emit failed(why);
}

}  // namespace vts
