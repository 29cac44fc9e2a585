#pragma once

#include "EventLoop.h"
#include "HttpGet.h"
#include "ServerAddress.h"

#include <QByteArray>
#include <QObject>

namespace vts {

// The download client (HTTP1): an HTTP/1.0 GET that reports, in this order,
// each response header, the start of the body, each piece of the body with
// the running total, and the end of the transfer; or failed() at any point.
// A body framed by Content-Length that ends short is a failure, not an end.
class DownloadClient : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kUserAgent = "Vantrel Update/3.0";
    static constexpr qint64 kMaxBodyBytes = 512LL * 1024 * 1024;
    static constexpr int kDefaultTimeoutMs = 60000;

    explicit DownloadClient(EventLoop& loop, QObject* parent = nullptr);

    // The exact request: "GET <path> HTTP/1.0", User-Agent, the empty line.
    static QByteArray request(const QString& path);

    void download(const ServerAddress& server, const QString& path);
    void abort() { m_get.abort(); }
    bool isRunning() const { return m_get.isRunning(); }
    void setTimeoutMs(int ms) { m_get.setIdleTimeoutMs(ms); }

signals:
    void header(const QString& name, const QString& value);
    void transferStarted();
    void pieceReceived(const QByteArray& piece, qint64 total);
    void transferEnded();
    void failed(const QString& why);

private:
    HttpGet m_get;
};

}  // namespace vts
