#pragma once

#include <QString>

namespace vts {

// Where the update server is: a host name or address and a TCP port. Read
// from the settings file "updater.ini" beside the program; a missing file, or
// a missing or unusable value in it, leaves the default.
struct ServerAddress {
    static constexpr const char* kDefaultHost = "update.vantrel.com";
    static constexpr quint16 kDefaultPort = 80;
    static constexpr const char* kSettingsFile = "updater.ini";

    QString host = QString::fromLatin1(kDefaultHost);
    quint16 port = kDefaultPort;

    // Reads the settings file in `programFolder` (its name in any letter case).
    static ServerAddress load(const QString& programFolder);
    // True for a plain host name ("a-b.example.com"), an IPv4 address or an
    // IPv6 address in brackets or bare; nothing with blanks, slashes or
    // control characters that could bend the request.
    static bool isValidHost(const QString& host);
    // The Host header's value: the host, with ":port" when the port is not 80.
    QString hostHeader() const;
};

}  // namespace vts
