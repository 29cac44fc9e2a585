#pragma once

#include "Dialer.h"
#include "Line.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <curl/curl.h>

// What the libcurl-based kinds share: one global initialisation, the TLS
// files of a kind's settings, a look-up of the host bounded by the call's
// time-out (libcurl's own cannot be left behind once it hangs), and the
// stop request ending a transfer.
namespace vts::curlsupport {

// A fresh easy handle, or null when the library cannot start.
CURL* newHandle();
// Points the handle at the CA file/folder and the client certificate and
// key of `tls` (PEM); `keep` holds the names while the handle lives.
void applyTls(CURL* curl, const DialerOptions::Tls& tls, QList<QByteArray>& keep);
// Hands libcurl the addresses of `host` looked up within `timeout`
// seconds; a numeric host needs none. False with `error` set when the
// name has no address in time. `*resolve` is freed by the caller.
bool pinAddress(CURL* curl, const QString& host, quint16 port, double timeout, curl_slist** resolve,
                QString* error);
// A transfer callback that ends the transfer once a stop was requested.
int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
// Points the handle at `url` (kept by the caller while the handle lives),
// allows only `protocols` ("smtp", "http,https"), bounds every transfer
// and its connection by `timeout` seconds, and ends it on a stop request.
void setTransfer(CURL* curl, const QByteArray& url, const char* protocols, double timeout);

}  // namespace vts::curlsupport

namespace vts {

// A byte line in TLS over TCP, for a binary protocol such as SMPP: libcurl
// makes the connection and the handshake (trusting the CA file/folder
// given, else the system's; presenting the client certificate when one is
// given), then carries raw bytes. Waits behave as TcpLine's.
class TlsLine final : public LineDevice {
public:
    ~TlsLine() override;
    bool connect(const QString& host, quint16 port, const DialerOptions::Tls& tls, double timeout,
                 QString* error);
    void close();
    bool write(const QByteArray& bytes) override;
    LineWait read(QByteArray& out, Deadline deadline) override;
    bool pulseDtr(int) override { return false; }

private:
    CURL* m_curl = nullptr;
    curl_slist* m_resolve = nullptr;
    QList<QByteArray> m_keep;
    QByteArray m_url;
    int m_fd = -1;
};

}  // namespace vts
