#pragma once

// Internals shared by the store layer's files: what a table's columns are,
// read back from their declared types, and the open connection that the
// database and every record set over it share. Not part of the layer's
// interface.

#include "Database.h"

#include <QHash>
#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <map>
#include <memory>

namespace vts::db {

constexpr int kBusyTimeoutMs = 5000;
constexpr size_t kStatementCacheSize = 64;

// ---------------------------------------------------------------------------
// Schema knowledge, read back from the declared column types.

struct Column {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;
    bool known = true;  // declared by this layer; false: plain SQLite column
    bool rowidAlias = false;
};

struct TableInfo {
    QString name;
    bool autoIncrement = false;  // numbers of deleted or abandoned rows are never reused
    std::vector<Column> columns;
    QHash<QString, int> index;  // lower-case name -> position

    int find(const QString& field) const { return index.value(field.toLower(), -1); }
};

// The declared type of a field ("TEXT(30)", "LONG", ...).
QString declaredType(const FieldDef& f);
// A column as its declared type describes it; `pk` when it is the key.
Column columnFromDecl(const QString& name, const QString& decl, bool pk);
QString quoteIdent(const QString& name);
bool isTextual(const Column& c);

// Registers the collation VTS_NOCASE and the LIKE of the same kind on a
// new connection.
void registerTextFunctions(sqlite3* db);

// ---------------------------------------------------------------------------
// The open connection, shared by the database and every record set over it,
// so a record set outliving its database fails cleanly instead of crashing.

struct Connection {
    sqlite3* db = nullptr;
    QString path;
    std::map<QString, sqlite3_stmt*> statements;
    std::map<QString, std::shared_ptr<const TableInfo>> tables;  // key: lower-case name
    int pendingAdds = 0;              // rows started by addNew and not yet stored or abandoned
    QHash<QString, qint64> reserved;  // lower-case table -> highest number handed out

    ~Connection() { close(); }

    void close();
    // Throws DbError for `what`, with the engine's reason in words.
    [[noreturn]] void fail(const QString& what, int rc = SQLITE_ERROR) const;

    void requireOpen() const {
        if (!db) throw DbError(QStringLiteral("The database is closed"), path);
    }

    // A cached statement for `sql`, reset and unbound.
    sqlite3_stmt* prepare(const QString& sql);
    void bind(sqlite3_stmt* st, int pos, const QVariant& v);
    void bindAll(sqlite3_stmt* st, const QVariantList& params);

    // Runs a statement to completion; returns the changed rows.
    int run(const QString& sql, const QVariantList& params = {});

    void runPlain(const char* sql);
    // The columns of `name`, read once and kept until the schema may change.
    std::shared_ptr<const TableInfo> table(const QString& name);

    // Rows started by addNew are made inside one write transaction, taken at
    // the first addNew and committed when the last pending row is stored or
    // abandoned. Holding the write lock is what makes the number handed out
    // at addNew safe from other processes.
    void beginAdd() {
        if (pendingAdds == 0 && sqlite3_get_autocommit(db)) run(QStringLiteral("BEGIN IMMEDIATE"));
        ++pendingAdds;
    }
    void endAdd();
    // The number the next new row of `t` gets: above every row there is,
    // above every number the table ever handed out, above every number
    // reserved by a row still being added on this connection.
    qint64 nextRowid(const TableInfo& t);
    // Marks `id` as used in the table's counter although no row holds it.
    void keepUsed(const TableInfo& t, qint64 id);
    void abortAdds();
};

struct Database::Impl {
    std::shared_ptr<Connection> conn;
    int busyMs = kBusyTimeoutMs;
};

}  // namespace vts::db
