#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

namespace vts::web {

// The contents of vtsweb.ini: where the console listens, its certificate,
// the sessions' idle time-out and the login limits.
//   [http]    listen = 127.0.0.1:8443
//   [tls]     cert = /etc/vantrel/web.crt, key = /etc/vantrel/web.key
//   [session] idle = 900   (seconds without a request)
//   [login]   attempts = 5, window = 300, lockout = 300   (per address and per account)
// Without TLS the console listens on a loopback address only: any other
// address is refused, so a password never crosses a network in clear.
struct WebConfig {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 8443;
    QString cert;
    QString key;
    int idleSeconds = 900;
    int attempts = 5;
    int windowSeconds = 300;
    int lockoutSeconds = 300;

    bool tls() const { return !cert.isEmpty() || !key.isEmpty(); }

    // Parses the file's text; nullopt and *error for a value it cannot take
    // or a listener beyond loopback without TLS.
    static std::optional<WebConfig> parse(const QString& text, QString* error);
};

}  // namespace vts::web
