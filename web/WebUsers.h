#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace vts::db {
class Database;
}

namespace vts::web {

// What an account may do: a viewer reads, an operator also sends, retries
// and deletes pending files, an administrator does everything.
enum class Role { Viewer = 0, Operator = 1, Administrator = 2 };

QString roleName(Role role);
std::optional<Role> roleFromName(const QString& name);

struct WebUser {
    QString name;
    Role role = Role::Viewer;
};

struct AuditEntry {
    qint64 id = 0;
    QDateTime at;
    QString user;
    QString action;
    QString item;
    QString oldValue;
    QString newValue;
};

// The console's own store, vtsweb.db in the working directory: accounts
// (name, role, Argon2id hash of the password) and the audit trail of every
// change made through the console. Made on first use with mode 0660 less
// the umask, like the other stores.
class WebUsers {
public:
    static constexpr int kMaxName = 32;
    static constexpr int kMinPassword = 8;
    static constexpr int kMaxPassword = 256;
    static inline const QString kFileName = QStringLiteral("vtsweb.db");

    explicit WebUsers(const QString& workDir);
    ~WebUsers();

    // Why a name or password is refused, or an empty text.
    static QString nameProblem(const QString& name);
    static QString passwordProblem(const QByteArray& password);

    // Adds or replaces an account; an empty text, or why not.
    QString setUser(const QString& name, Role role, const QByteArray& password);
    bool setRole(const QString& name, Role role);
    bool remove(const QString& name);
    QList<WebUser> users();
    std::optional<WebUser> find(const QString& name);
    // The account when the password matches its hash (checked by libsodium
    // in constant time). An unknown name costs the same hash, so a guess
    // cannot tell names from wrong passwords by time.
    std::optional<WebUser> verify(const QString& name, const QByteArray& password);

    void audit(const QString& user, const QString& action, const QString& item,
               const QString& oldValue, const QString& newValue, const QDateTime& at);
    // The newest entries first, at most `limit`, older than `before` when
    // it is above 0.
    QList<AuditEntry> auditTrail(int limit, qint64 before = 0);
    // The user of the console's audit entry for a page file, or empty.
    QString senderOfFile(const QString& fileName);

private:
    db::Database& store();
    QString m_dir;
    std::unique_ptr<db::Database> m_db;
};

}  // namespace vts::web
