#pragma once

#include "EventLoop.h"
#include "HttpResponseParser.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;

namespace vts {

// One HTTP GET over a QTcpSocket: connects, writes the request bytes as
// given, reads the response in pieces of at most readPieceBytes() and
// reports it. Exactly one of finished() or failed() ends each start(); a
// status other than 200 is a failure. When nothing happens on the
// connection for idleTimeoutMs() of loop time (connecting included), the
// exchange fails. After the end the socket is closed, so a server that
// keeps connections open never holds the exchange.
class HttpGet : public QObject {
    Q_OBJECT
public:
    explicit HttpGet(EventLoop& loop, QObject* parent = nullptr);
    ~HttpGet() override;

    void setIdleTimeoutMs(int ms) { m_idleMs = ms; }
    int idleTimeoutMs() const { return m_idleMs; }
    void setReadPieceBytes(qint64 n) { m_pieceBytes = n; }
    qint64 readPieceBytes() const { return m_pieceBytes; }
    void setLimits(HttpResponseParser::Limits limits) { m_limits = limits; }

    void start(const QString& host, quint16 port, const QByteArray& request);
    // Drops the connection without reporting anything.
    void abort();
    bool isRunning() const { return m_running; }
    std::optional<qint64> contentLength() const;

signals:
    void connected();
    void header(const QByteArray& name, const QByteArray& value);
    void bodyStarted();
    void bodyPiece(const QByteArray& piece, qint64 total);
    void finished();
    void failed(const QString& why);

private:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onSocketError();
    void readAvailable();
    void afterInput();
    void end(bool ok, const QString& why = QString());
    void touch();

    EventLoop& m_loop;
    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<HttpResponseParser> m_parser;
    std::unique_ptr<Timer> m_idle;
    HttpResponseParser::Limits m_limits;
    QByteArray m_request;
    int m_idleMs = 30000;
    qint64 m_pieceBytes = 16384;
    qint64 m_total = 0;
    bool m_running = false;
};

}  // namespace vts
