#pragma once

#include "WebUsers.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace vts::web {

// One signed-in browser: its account, its role as at sign-in, the token
// every change must carry, and when it was last seen.
struct Session {
    QString id;
    QString user;
    Role role = Role::Viewer;
    QString csrf;
    QDateTime lastSeen;
};

// The signed-in sessions, in memory: a new random ID (256 bits) at every
// sign-in, never one the browser brought, so a planted cookie cannot become
// a signed-in session (fixation). A session unused for the idle time is
// gone. Times come from the caller (the EventLoop seam's clock).
class Sessions {
public:
    explicit Sessions(int idleSeconds) : m_idle(idleSeconds) {}

    Session start(const WebUser& user, const QDateTime& now);
    // The live session of `id`, its last-seen time moved to now; nullopt for
    // an unknown or expired one (which is dropped).
    std::optional<Session> touch(const QString& id, const QDateTime& now);
    void end(const QString& id);
    // Ends every session of `user` (removed or demoted accounts).
    void endAllOf(const QString& user);
    int count() const { return static_cast<int>(m_sessions.size()); }

    // Random bytes from libsodium as lower-case hex.
    static QString randomHex(int bytes);
    // Whether two secrets are equal, in time independent of where they differ.
    static bool sameSecret(const QString& a, const QString& b);

private:
    void sweep(const QDateTime& now);
    int m_idle;
    QHash<QString, Session> m_sessions;
};

// Failed sign-ins per client address and per account: after `attempts`
// failures within `window` seconds, that address (or account) is refused
// for `lockout` seconds, whatever password it tries, so guessing stays
// slow; a success clears the account's count.
class LoginLimiter {
public:
    LoginLimiter(int attempts, int windowSeconds, int lockoutSeconds)
        : m_attempts(attempts), m_window(windowSeconds), m_lockout(lockoutSeconds) {}

    // Seconds until `key` may try again, 0 when it may now.
    int blockedFor(const QString& key, const QDateTime& now);
    void failed(const QString& key, const QDateTime& now);
    void succeeded(const QString& key);

private:
    struct Record {
        QList<QDateTime> failures;
        QDateTime lockedUntil;
    };
    int m_attempts;
    int m_window;
    int m_lockout;
    QHash<QString, Record> m_records;
};

}  // namespace vts::web
