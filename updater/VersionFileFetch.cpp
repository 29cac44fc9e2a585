#include "VersionFileFetch.h"

namespace vts {

VersionFileFetch::VersionFileFetch(EventLoop& loop, QObject* parent)
    : QObject(parent), m_get(loop) {
    m_get.setIdleTimeoutMs(kDefaultTimeoutMs);
    m_get.setReadPieceBytes(16384);
    HttpResponseParser::Limits limits;
    limits.maxBodyBytes = kMaxBodyBytes;
    m_get.setLimits(limits);
    connect(&m_get, &HttpGet::connected, this, &VersionFileFetch::connectionOpened);
    connect(&m_get, &HttpGet::bodyPiece, this,
            [this](const QByteArray& piece, qint64) { m_body += piece; });
    connect(&m_get, &HttpGet::finished, this, [this] { emit finished(true); });
    connect(&m_get, &HttpGet::failed, this, [this](const QString& why) {
        m_error = why;
        m_body.clear();
        emit finished(false);
    });
}

QByteArray VersionFileFetch::request(const ServerAddress& server, const QString& path) {
    return "GET " + path.toLatin1() + " HTTP/1.1\r\n" + "Host: " + server.hostHeader().toLatin1() +
           "\r\n" + "Accept: */*\r\n" + "\r\n";
}

void VersionFileFetch::fetch(const ServerAddress& server, const QString& path) {
    m_body.clear();
    m_error.clear();
    m_get.start(server.host, server.port, request(server, path));
}

}  // namespace vts
