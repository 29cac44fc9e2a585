#include "Database.h"

#include "Connection.h"
#include "Paths.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vts::db {

DbError::DbError(const QString& message, const QString& file)
    : std::runtime_error(
          (file.isEmpty() ? message : message + QStringLiteral(" (") + file + QLatin1Char(')'))
              .toStdString()),
      m_message(message),
      m_file(file) {}

Database::Database(sqlite3* db, QString path) : d(std::make_unique<Impl>()) {
    d->conn = std::make_shared<Connection>();
    d->conn->db = db;
    d->conn->path = std::move(path);
}

Database::~Database() { close(); }

namespace {

sqlite3* openHandle(const QString& path, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg =
            db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw DbError(QStringLiteral("Cannot open the database: ") + msg, path);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    registerTextFunctions(db);
    return db;
}

// Forces the header to be read (a damaged or foreign file fails here, not
// later) and switches to the write-ahead journal so readers never block the
// writer and the writer waits briefly for another one.
void prepareHandle(Connection& c) {
    char* err = nullptr;
    int rc = sqlite3_exec(c.db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) c.fail(QStringLiteral("Cannot open the database"), rc);
    rc = sqlite3_exec(c.db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
        c.fail(QStringLiteral("Cannot open the database"), rc);
    // A read-only file stays in its journal mode; writes then fail clearly.
}

// Makes the empty store file readable and writable for its group (less what
// the umask takes away): the operators of the server's group work on the
// stores it writes. SQLite would make it 0644 before the umask, and its
// -wal and -shm files take the store file's mode.
void createStoreFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kStoreFileMode);
    if (fd < 0) {
        throw DbError(QStringLiteral("Cannot create the database: ") +
                          QString::fromLocal8Bit(std::strerror(errno)),
                      path);
    }
    ::close(fd);
}

// Why the file at `path` cannot be a store, or an empty text. SQLite takes
// an empty file for a new database and would turn it into an empty store
// with no tables, so an empty file is refused before it is opened, as is a
// file that does not begin as every SQLite database does. A main file still
// empty beside a write-ahead journal with content is a store whose first
// writes were never copied back, and is opened.
QString notAStore(const QString& path) {
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    const QString what = QStringLiteral(
        ": move it away, or put the store back from a backup (the server makes a "
        "new message log where there is none; vtsinit makes a new configuration "
        "store)");
    if (!file.open(QIODevice::ReadOnly)) return {};  // opening says why
    const QByteArray head = file.read(16);
    if (head.isEmpty()) {
        if (QFileInfo(path + QStringLiteral("-wal")).size() > 0) return {};
        return name + QStringLiteral(" is empty, not a database") + what;
    }
    if (head != QByteArray("SQLite format 3", 16)) {
        return name + QStringLiteral(" is not a database or is damaged") + what;
    }
    return {};
}

}  // namespace

std::unique_ptr<Database> Database::open(const QString& dir, const QString& bareName) {
    return openPath(paths::resolve(bareName, dir));
}

std::unique_ptr<Database> Database::openPath(const QString& path) {
    const QString real = paths::resolve(path);
    const QFileInfo fi(real);
    if (!fi.exists()) throw DbError(QStringLiteral("Cannot find the database file"), real);
    if (!fi.isFile()) throw DbError(QStringLiteral("The database is not a file"), real);
    if (const QString why = notAStore(real); !why.isEmpty()) throw DbError(why, real);
    sqlite3* h = openHandle(real, SQLITE_OPEN_READWRITE);
    std::unique_ptr<Database> db(new Database(h, real));
    prepareHandle(*db->d->conn);
    return db;
}

std::unique_ptr<Database> Database::create(const QString& path) {
    const QString real = paths::resolve(path);
    if (QFileInfo::exists(real)) throw DbError(QStringLiteral("The database already exists"), real);
    createStoreFile(real);
    sqlite3* h = nullptr;
    try {
        h = openHandle(real, SQLITE_OPEN_READWRITE);
    } catch (const DbError&) {
        QFile::remove(real);
        throw;
    }
    std::unique_ptr<Database> db(new Database(h, real));
    prepareHandle(*db->d->conn);
    return db;
}

void Database::createTable(const TableDef& table) {
    Connection& c = *d->conn;
    c.requireOpen();
    if (table.fields.empty())
        throw DbError(QStringLiteral("The table '%1' has no fields").arg(table.name), c.path);
    QStringList cols;
    QString autoField;
    for (const FieldDef& f : table.fields) {
        QString col = quoteIdent(f.name) + QLatin1Char(' ') + declaredType(f);
        if (f.autoIncrement) {
            if (f.type != FieldType::Long || !autoField.isEmpty())
                throw DbError(
                    QStringLiteral("Only one 32-bit integer field may count up by itself"), c.path);
            col += QStringLiteral(" PRIMARY KEY AUTOINCREMENT");
            autoField = f.name;
        }
        if (f.type == FieldType::Text || f.type == FieldType::Memo) {
            col += QStringLiteral(" COLLATE NOCASE");
            if (!f.allowEmpty) col += QStringLiteral(" CHECK (%1 <> '')").arg(quoteIdent(f.name));
        }
        cols << col;
    }
    QStringList statements;
    statements << QStringLiteral("CREATE TABLE %1 (%2)")
                      .arg(quoteIdent(table.name), cols.join(QStringLiteral(", ")));
    for (const IndexDef& ix : table.indexes) {
        // The auto-increment key is the table's own row number: already
        // primary, required and unique.
        if (ix.primary && ix.field.compare(autoField, Qt::CaseInsensitive) == 0) continue;
        statements << QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
                          .arg(ix.unique || ix.primary ? QStringLiteral("UNIQUE ") : QString(),
                               quoteIdent(ix.name), quoteIdent(table.name), quoteIdent(ix.field));
    }
    const bool own = sqlite3_get_autocommit(c.db);
    if (own) c.runPlain("BEGIN IMMEDIATE");
    try {
        for (const QString& s : statements) {
            const QByteArray utf8 = s.toUtf8();
            const int rc = sqlite3_exec(c.db, utf8.constData(), nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK)
                c.fail(QStringLiteral("Cannot create the table '%1'").arg(table.name), rc);
        }
        if (own) c.runPlain("COMMIT");
    } catch (...) {
        if (own) sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    c.tables.erase(table.name.toLower());
}

void Database::setBusyTimeout(int ms) {
    d->busyMs = ms;
    if (d->conn->db) sqlite3_busy_timeout(d->conn->db, ms);
}

int Database::busyTimeout() const { return d->busyMs; }

bool Database::hasTable(const QString& table) const {
    Connection& c = *d->conn;
    c.requireOpen();
    sqlite3_stmt* st = c.prepare(
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE"));
    c.bind(st, 1, table);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        c.fail(QStringLiteral("Cannot read the table list"), rc);
    return rc == SQLITE_ROW;
}

int Database::execute(const QString& sql, const QVariantList& params) {
    Connection& c = *d->conn;
    const int n = c.run(sql, params);
    c.tables.clear();  // the statement may have changed the schema
    return n;
}

void Database::close() {
    if (!d || !d->conn) return;
    d->conn->abortAdds();
    d->conn->close();
}

bool Database::isOpen() const { return d && d->conn && d->conn->db; }
QString Database::filePath() const { return d->conn->path; }
sqlite3* Database::handle() const { return d->conn->db; }

}  // namespace vts::db
