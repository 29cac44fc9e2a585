#include "CurlSupport.h"

#include "Line.h"
#include "TcpLine.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <poll.h>

namespace vts::curlsupport {

namespace {

bool numericHost(const QString& host) {
    const QByteArray h = host.toLatin1();
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, h.constData(), buf) == 1 ||
           ::inet_pton(AF_INET6, h.constData(), buf) == 1;
}

}  // namespace

CURL* newHandle() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready ? curl_easy_init() : nullptr;
}

void applyTls(CURL* curl, const DialerOptions::Tls& tls, QList<QByteArray>& keep) {
    const auto file = [&](CURLoption option, const QString& value) {
        if (!value.isEmpty()) {
            keep.append(QFile::encodeName(value));
            curl_easy_setopt(curl, option, keep.last().constData());
        }
    };
    file(CURLOPT_CAINFO, tls.caFile);
    file(CURLOPT_CAPATH, tls.caPath);
    file(CURLOPT_SSLCERT, tls.certFile);
    file(CURLOPT_SSLKEY, tls.keyFile);
}

bool pinAddress(CURL* curl, const QString& host, quint16 port, double timeout, curl_slist** resolve,
                QString* error) {
    if (host.isEmpty() || numericHost(host)) {
        return true;
    }
    const QStringList addresses = TcpLine::resolveHost(host, port, deadlineIn(timeout), error);
    if (addresses.isEmpty()) {
        return false;
    }
    *resolve = curl_slist_append(
        *resolve,
        QStringLiteral("%1:%2:%3").arg(host).arg(port).arg(addresses.join(u',')).toUtf8());
    curl_easy_setopt(curl, CURLOPT_RESOLVE, *resolve);
    return true;
}

int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Cancellation::requested() ? 1 : 0;
}

void setTransfer(CURL* curl, const QByteArray& url, const char* protocols, double timeout) {
    const long ms = static_cast<long>(timeout * 1000);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, ms);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ms);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
}

}  // namespace vts::curlsupport

namespace vts {

TlsLine::~TlsLine() { close(); }

bool TlsLine::connect(const QString& host, quint16 port, const DialerOptions::Tls& tls,
                      double timeout, QString* error) {
    close();
    m_curl = curlsupport::newHandle();
    if (!m_curl) {
        *error = QStringLiteral("cannot start the TLS library");
        return false;
    }
    // An https URL with CONNECT_ONLY: the connection and the handshake,
    // then nothing of HTTP.
    m_url = QStringLiteral("https://%1:%2/")
                .arg(host.contains(u':') ? u'[' + host + u']' : host)
                .arg(port)
                .toUtf8();
    curl_easy_setopt(m_curl, CURLOPT_URL, m_url.constData());
    curl_easy_setopt(m_curl, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, curlsupport::onProgress);
    curlsupport::applyTls(m_curl, tls, m_keep);
    if (!curlsupport::pinAddress(m_curl, host, port, timeout, &m_resolve, error)) {
        return false;
    }
    const CURLcode rc = curl_easy_perform(m_curl);
    if (rc != CURLE_OK) {
        *error = rc == CURLE_ABORTED_BY_CALLBACK
                     ? QStringLiteral("stopped")
                     : QStringLiteral("TLS connection to %1 port %2: %3")
                           .arg(host)
                           .arg(port)
                           .arg(QString::fromUtf8(curl_easy_strerror(rc)));
        return false;
    }
    curl_socket_t fd = CURL_SOCKET_BAD;
    curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &fd);
    m_fd = fd == CURL_SOCKET_BAD ? -1 : static_cast<int>(fd);
    return m_fd >= 0;
}

void TlsLine::close() {
    if (m_curl) {
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
    }
    curl_slist_free_all(m_resolve);
    m_resolve = nullptr;
    m_fd = -1;
}

bool TlsLine::write(const QByteArray& bytes) {
    qsizetype at = 0;
    const Deadline d = deadlineIn(30);
    while (m_curl && at < bytes.size()) {
        size_t n = 0;
        const CURLcode rc = curl_easy_send(m_curl, bytes.constData() + at,
                                           static_cast<size_t>(bytes.size() - at), &n);
        if (rc == CURLE_AGAIN) {
            if (waitForSocket(m_fd, POLLOUT, d) <= 0) {
                return false;
            }
            continue;
        }
        if (rc != CURLE_OK) {
            return false;
        }
        at += static_cast<qsizetype>(n);
    }
    return m_curl != nullptr;
}

LineWait TlsLine::read(QByteArray& out, Deadline deadline) {
    for (;;) {
        if (!m_curl) {
            return LineWait::Closed;
        }
        char buf[16384];
        size_t n = 0;
        const CURLcode rc = curl_easy_recv(m_curl, buf, sizeof buf, &n);
        if (rc == CURLE_OK) {
            if (n == 0) {
                return LineWait::Closed;
            }
            out.append(buf, static_cast<qsizetype>(n));
            return LineWait::Data;
        }
        if (rc != CURLE_AGAIN) {
            return LineWait::Closed;
        }
        const int w = waitForSocket(m_fd, POLLIN, deadline);
        if (w < 0) {
            return LineWait::Cancelled;
        }
        if (w == 0) {
            return LineWait::Timeout;
        }
    }
}

}  // namespace vts
