#include "WebUsers.h"

#include "Accounts.h"
#include "Database.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace vts::web {

QString roleName(Role role) {
    switch (role) {
        case Role::Viewer:
            return QStringLiteral("viewer");
        case Role::Operator:
            return QStringLiteral("operator");
        case Role::Administrator:
            return QStringLiteral("administrator");
    }
    return QStringLiteral("viewer");
}

std::optional<Role> roleFromName(const QString& name) {
    for (Role r : {Role::Viewer, Role::Operator, Role::Administrator}) {
        if (roleName(r).compare(name.trimmed(), Qt::CaseInsensitive) == 0) return r;
    }
    return std::nullopt;
}

WebUsers::WebUsers(const QString& workDir) : m_dir(workDir) {}
WebUsers::~WebUsers() = default;

db::Database& WebUsers::store() {
    if (m_db) return *m_db;
    const QString path = QDir(m_dir).filePath(kFileName);
    m_db = QFileInfo::exists(path) ? db::Database::openPath(path) : db::Database::create(path);
    m_db->execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblWebUser (Name TEXT PRIMARY KEY COLLATE NOCASE, "
        "Role TEXT NOT NULL, Hash TEXT NOT NULL)"));
    m_db->execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblAudit (ID INTEGER PRIMARY KEY AUTOINCREMENT, At TEXT, "
        "User TEXT, Action TEXT, Item TEXT, OldValue TEXT, NewValue TEXT)"));
    return *m_db;
}

QString WebUsers::nameProblem(const QString& name) {
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    if (name.isEmpty() || name.size() > kMaxName || !shape.match(name).hasMatch()) {
        return QStringLiteral(
                   "a user name is 1 to %1 letters, digits, dots, dashes and underscores")
            .arg(kMaxName);
    }
    return {};
}

QString WebUsers::passwordProblem(const QByteArray& password) {
    if (password.size() < kMinPassword || password.size() > kMaxPassword) {
        return QStringLiteral("a password is %1 to %2 bytes long")
            .arg(kMinPassword)
            .arg(kMaxPassword);
    }
    return {};
}

QString WebUsers::setUser(const QString& name, Role role, const QByteArray& password) {
    if (QString why = nameProblem(name); !why.isEmpty()) return why;
    if (QString why = passwordProblem(password); !why.isEmpty()) return why;
    const QString hash = gate::Accounts::hash(password);
    if (hash.isEmpty()) return QStringLiteral("the password could not be hashed");
    store().execute(QStringLiteral("INSERT OR REPLACE INTO tblWebUser (Name, Role, Hash) "
                                   "VALUES (?, ?, ?)"),
                    {name, roleName(role), hash});
    return {};
}

bool WebUsers::setRole(const QString& name, Role role) {
    return store().execute(QStringLiteral("UPDATE tblWebUser SET Role = ? WHERE Name = ?"),
                           {roleName(role), name}) > 0;
}

bool WebUsers::remove(const QString& name) {
    return store().execute(QStringLiteral("DELETE FROM tblWebUser WHERE Name = ?"), {name}) > 0;
}

QList<WebUser> WebUsers::users() {
    QList<WebUser> list;
    auto rs = store().openQuery(QStringLiteral("SELECT Name, Role FROM tblWebUser ORDER BY Name"));
    for (; !rs->eof(); rs->moveNext()) {
        list.append({rs->text(QStringLiteral("Name")),
                     roleFromName(rs->text(QStringLiteral("Role"))).value_or(Role::Viewer)});
    }
    return list;
}

std::optional<WebUser> WebUsers::find(const QString& name) {
    auto rs = store().openQuery(QStringLiteral("SELECT Name, Role FROM tblWebUser WHERE Name = ?"),
                                {name});
    if (rs->eof()) return std::nullopt;
    return WebUser{rs->text(QStringLiteral("Name")),
                   roleFromName(rs->text(QStringLiteral("Role"))).value_or(Role::Viewer)};
}

std::optional<WebUser> WebUsers::verify(const QString& name, const QByteArray& password) {
    if (password.size() > kMaxPassword || name.size() > kMaxName) return std::nullopt;
    // A fixed hash of a password nobody has, checked for an unknown name.
    static const QString decoy = gate::Accounts::hash(QByteArrayLiteral("no such account here"));
    auto rs = store().openQuery(
        QStringLiteral("SELECT Name, Role, Hash FROM tblWebUser WHERE Name = ?"), {name});
    if (rs->eof()) {
        gate::Accounts::matches(decoy, password);
        return std::nullopt;
    }
    if (!gate::Accounts::matches(rs->text(QStringLiteral("Hash")), password)) return std::nullopt;
    return WebUser{rs->text(QStringLiteral("Name")),
                   roleFromName(rs->text(QStringLiteral("Role"))).value_or(Role::Viewer)};
}

void WebUsers::audit(const QString& user, const QString& action, const QString& item,
                     const QString& oldValue, const QString& newValue, const QDateTime& at) {
    store().execute(QStringLiteral("INSERT INTO tblAudit (At, User, Action, Item, OldValue, "
                                   "NewValue) VALUES (?, ?, ?, ?, ?, ?)"),
                    {at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), user, action, item,
                     oldValue, newValue});
}

QList<AuditEntry> WebUsers::auditTrail(int limit, qint64 before) {
    QList<AuditEntry> list;
    auto rs = store().openQuery(
        QStringLiteral("SELECT * FROM tblAudit WHERE (? <= 0 OR ID < ?) ORDER BY ID DESC LIMIT ?"),
        {before, before, limit});
    for (; !rs->eof(); rs->moveNext()) {
        AuditEntry e;
        e.id = rs->value(QStringLiteral("ID")).toLongLong();
        e.at = QDateTime::fromString(rs->text(QStringLiteral("At")),
                                     QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        e.user = rs->text(QStringLiteral("User"));
        e.action = rs->text(QStringLiteral("Action"));
        e.item = rs->text(QStringLiteral("Item"));
        e.oldValue = rs->text(QStringLiteral("OldValue"));
        e.newValue = rs->text(QStringLiteral("NewValue"));
        list << e;
    }
    return list;
}

QString WebUsers::senderOfFile(const QString& fileName) {
    auto rs = store().openQuery(
        QStringLiteral("SELECT User FROM tblAudit WHERE Action = 'send' AND instr(NewValue, ?) > 0 "
                       "ORDER BY ID DESC LIMIT 1"),
        {fileName});
    return rs->eof() ? QString() : rs->text(QStringLiteral("User"));
}

}  // namespace vts::web
