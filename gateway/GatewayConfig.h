#pragma once

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace vts::gate {

// One pager the gateway may page: the name clients use, the paging-service
// number (queue file line 8), the PIN (line 9) and the characters per block
// (line 11, 0 for the service's default).
struct Recipient {
    QString name;
    QString phone;
    QString pin;
    int maxChars = 0;
};

// Where one protocol listens; `enabled` is false when its section is absent.
struct Listen {
    bool enabled = false;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    bool tls = false;  // TLS from the first byte (`tls = on`)
};

// Bounds on what one client may send (all sizes in bytes unless noted).
struct Limits {
    int maxLine = 4096;         // one command or text line
    int maxText = 2000;         // page text, in characters
    qint64 maxMail = 262144;    // one mail, as sent
    qint64 maxBody = 65536;     // one HTTP request body
    int maxHeader = 16384;      // HTTP request line and headers together
    int maxRecipients = 20;     // pagers in one page
    int idleSeconds = 60;       // without a complete command from the client
    int smtpIdleSeconds = 300;  // the same for SMTP (RFC 5321's five minutes)
    int sessionSeconds = 600;   // one connection at most
    int pagesPerMinute = 60;    // per client address (a burst of as many)
    int maxConnections = 32;    // open at once, all protocols together
    int maxPerAddress = 8;      // open at once from one client address
};

// The contents of vtsgate.ini. Recipient names compare without regard to
// letter case. Bad recipient lines are skipped and listed in `warnings`;
// a bad listen address or limit makes the whole file invalid.
struct GatewayConfig {
    Listen snpp;
    Listen smtp;
    Listen http;
    QString domain;
    QString token;
    QString computer;       // queue file line 2; the host name when empty
    QString postmaster;     // the recipient mail to postmaster pages; none when empty
    bool starttls = false;  // [smtp] starttls = on: STARTTLS is offered
    QString tlsCert;        // [tls] cert: PEM certificate (chain) file
    QString tlsKey;         // [tls] key: PEM private key file
    bool anyTls() const { return snpp.tls || http.tls || starttls; }
    bool snppAuth = false;               // [snpp] auth = required: LOGI name password first
    bool smtpAuth = false;               // [smtp] auth = required: AUTH before MAIL
    QHash<QString, QString> users;       // [users] name (capitals) -> Argon2id hash
    QHash<QString, QString> tokens;      // [tokens] name (capitals) -> Argon2id hash of the token
    QHash<QString, QStringList> access;  // [access] user (capitals) -> names it may page
    QHash<QString, QStringList> groups;  // [groups] name (capitals) -> member names

    // The recipients a name stands for: itself, or a group's members
    // (groups within groups followed), each once; empty when unknown.
    QList<Recipient> expand(const QString& name) const;
    // Whether the user may page `name` (no [access] line: anything).
    bool mayPage(const QString& user, const QString& name) const;
    QList<QPair<QHostAddress, int>> allow;
    Limits limits;
    QHash<QString, Recipient> recipients;  // key: name in capitals
    QStringList warnings;

    const Recipient* find(const QString& name) const;
    // Whether a name is a recipient or a group.
    bool known(const QString& name) const {
        return find(name) || groups.contains(name.trimmed().toUpper());
    }
    bool allowed(const QHostAddress& peer) const;

    static std::optional<GatewayConfig> parse(const QString& text, QString* error);
};

// The ini file, read again whenever its time stamp or size changes, so edits
// (a new recipient, a new token) take effect without a restart. A changed
// file that does not parse leaves the last good contents in force.
class ConfigSource {
public:
    explicit ConfigSource(QString path) : m_path(std::move(path)) {}
    // Loads the file the first time; false and *error when it cannot.
    bool load(QString* error);
    // The current contents, re-read first when the file changed. *message
    // receives a line to log when the file was re-read or refused.
    const GatewayConfig& current(QString* message = nullptr);
    const QString& path() const { return m_path; }

private:
    QString m_path;
    GatewayConfig m_config;
    QDateTime m_stamp;
    qint64 m_size = -1;
};

}  // namespace vts::gate
