#include "DownloadClient.h"

namespace vts {

DownloadClient::DownloadClient(EventLoop& loop, QObject* parent) : QObject(parent), m_get(loop) {
    m_get.setIdleTimeoutMs(kDefaultTimeoutMs);
    m_get.setReadPieceBytes(64 * 1024);
    HttpResponseParser::Limits limits;
    limits.maxBodyBytes = kMaxBodyBytes;
    m_get.setLimits(limits);
    connect(&m_get, &HttpGet::header, this, [this](const QByteArray& n, const QByteArray& v) {
        emit header(QString::fromLatin1(n), QString::fromLatin1(v));
    });
    connect(&m_get, &HttpGet::bodyStarted, this, &DownloadClient::transferStarted);
    connect(&m_get, &HttpGet::bodyPiece, this, &DownloadClient::pieceReceived);
    connect(&m_get, &HttpGet::finished, this, &DownloadClient::transferEnded);
    connect(&m_get, &HttpGet::failed, this, &DownloadClient::failed);
}

QByteArray DownloadClient::request(const QString& path) {
    return QByteArray("GET") + ' ' + path.toLatin1() + ' ' + "HTTP/1.0" + "\r\n" +
           "User-Agent: " + kUserAgent + "\r\n" + "\r\n";
}

void DownloadClient::download(const ServerAddress& server, const QString& path) {
    m_get.start(server.host, server.port, request(path));
}

}  // namespace vts
