#pragma once

#include "EventLoop.h"
#include "HttpGet.h"
#include "ServerAddress.h"

#include <QByteArray>
#include <QObject>

namespace vts {

// The version-file client (agHTTP1): an HTTP/1.1 GET of one path, the body
// kept in memory. The body ends by Content-Length or chunked encoding when
// the response has them, else when the server closes; a server that keeps
// the connection open without either runs into the idle time-out. Bodies are
// limited to kMaxBodyBytes.
class VersionFileFetch : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBodyBytes = 1024LL * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;

    explicit VersionFileFetch(EventLoop& loop, QObject* parent = nullptr);

    // The exact request: request line, Host, Accept and the empty line.
    static QByteArray request(const ServerAddress& server, const QString& path);

    void fetch(const ServerAddress& server, const QString& path);
    void abort() { m_get.abort(); }
    bool isRunning() const { return m_get.isRunning(); }
    void setTimeoutMs(int ms) { m_get.setIdleTimeoutMs(ms); }
    const QByteArray& body() const { return m_body; }
    QString error() const { return m_error; }

signals:
    void connectionOpened();
    // ok false: error() says why.
    void finished(bool ok);

private:
    HttpGet m_get;
    QByteArray m_body;
    QString m_error;
};

}  // namespace vts
