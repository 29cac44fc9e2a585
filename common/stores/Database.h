#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>
#include <vector>

struct sqlite3;

// The database layer over SQLite: the operations both programs use on their
// stores (open by bare name, create tables and indexes, record sets over a
// table or a select, find-first, add/edit/update/delete, execute). Every
// value reaches SQLite as a bound parameter. Engine errors surface as DbError
// with a readable message naming the file; nothing is swallowed.
namespace vts::db {

// Mode of a new store file before the umask: read and write for the owner
// and the group (the service's umask 0007 leaves it so).
constexpr unsigned kStoreFileMode = 0660;

class DbError : public std::runtime_error {
public:
    DbError(const QString& message, const QString& file = QString());
    QString message() const { return m_message; }
    QString file() const { return m_file; }

private:
    QString m_message;
    QString m_file;
};

// Field kinds of the stores. Text has a width in characters that the layer
// enforces (a longer value is refused with DbError, never stored past it).
// Long is a 32-bit integer, Integer a 16-bit one (both refuse values outside
// their range with DbError). The kind is kept in the column's declared type
// ("LONG", "SHORT", "TEXT(30)", "DATETIME", "YESNO", "LONGTEXT", "DOUBLE";
// an auto-increment key is "INTEGER PRIMARY KEY AUTOINCREMENT"), so a store
// reopened later converts and checks values the same way.
enum class FieldType { Long, Text, DateTime, YesNo, Memo, Double, Integer };

struct FieldDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;  // Text only
    bool autoIncrement = false;
    bool allowEmpty = true;  // Text and Memo: the empty text is accepted
};

struct IndexDef {
    QString name;
    QString field;
    bool primary = false;
    bool required = false;
    bool unique = false;
};

struct TableDef {
    QString name;
    std::vector<FieldDef> fields;
    std::vector<IndexDef> indexes;
};

// Text compared without regard to letter case over the whole of Unicode
// (full case folding: "ÅGREN" = "ågren", "STRASSE" = "straße"). Every
// connection of this layer registers this collation and a LIKE of the same
// kind. Queries name the collation ("... = ? COLLATE VTS_NOCASE"); table
// definitions keep SQLite's own NOCASE, so the stores stay readable and
// writable by any SQLite client (which then compares A-Z only).
inline constexpr char kNoCaseCollation[] = "VTS_NOCASE";
// " COLLATE VTS_NOCASE", to follow a text term in SQL.
QString noCase();
// The text folded for comparison: equal for texts that differ only in case.
QString foldCase(const QString& text);

class Recordset;

class Database {
public:
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens an existing store found by its bare name in `dir`, ignoring
    // letter case ("VTSLOG.MDB" opens "VTSLog.mdb"). WAL journal, busy
    // time-out of several seconds. Throws DbError when missing, damaged or
    // not a database.
    static std::unique_ptr<Database> open(const QString& dir, const QString& bareName);
    // Opens the file at `path` (resolved case-insensitively).
    static std::unique_ptr<Database> openPath(const QString& path);
    // Creates a new, empty store at `path`; throws DbError when it exists.
    // The file and its -wal and -shm files get kStoreFileMode less the umask.
    static std::unique_ptr<Database> create(const QString& path);

    void createTable(const TableDef& table);
    bool hasTable(const QString& table) const;
    // How long a statement waits for another program's lock before it fails
    // with a store error (several seconds unless set).
    void setBusyTimeout(int ms);
    int busyTimeout() const;

    // Updatable record set over a whole table, in table (row) order.
    std::unique_ptr<Recordset> openTable(const QString& table);
    // Updatable record set over the rows of `table` whose `field` equals
    // `value` (text compared without regard to case): the translation of
    // "select * from T where F=v".
    std::unique_ptr<Recordset> openTableWhere(const QString& table, const QString& field,
                                              const QVariant& value);
    // Read-only record set over a select statement with bound parameters
    // ("select distinct Sender from tblLog order by Sender").
    std::unique_ptr<Recordset> openQuery(const QString& sql, const QVariantList& params = {});

    // Executes one SQL statement with bound parameters; returns changed rows.
    int execute(const QString& sql, const QVariantList& params = {});
    // Executes a statement in the desktop-database dialect of the purge,
    // "delete * from tblLog[ where <criteria>]", where the criteria join
    // Field>=#MM/DD/YYYY HH:MM:SS#, Field<=#...#, Field LIKE 'text*' and
    // Field='text' with AND. Translated to SQL with bound parameters, so a
    // quote inside a LIKE text is just a character. Returns deleted rows.
    // Throws DbError for a statement outside that dialect.
    int executeJet(const QString& statement);

    void close();
    bool isOpen() const;
    QString filePath() const;
    sqlite3* handle() const;  // for benchmarks and streaming readers

private:
    Database(sqlite3* db, QString path);
    friend class Recordset;
    struct Impl;
    std::unique_ptr<Impl> d;
};

// For writes on a thread that must not wait long for another program's
// lock: the store's wait is `ms` for the scope, then what it was.
class ShortWait final {
public:
    ShortWait(Database& db, int ms) : m_db(db), m_was(db.busyTimeout()) { db.setBusyTimeout(ms); }
    ~ShortWait() { m_db.setBusyTimeout(m_was); }
    ShortWait(const ShortWait&) = delete;
    ShortWait& operator=(const ShortWait&) = delete;

private:
    Database& m_db;
    int m_was;
};

// A position over rows. Field names are matched without regard to case.
// A null field reads as an invalid QVariant; text() and int32() turn it into
// "" and 0. Values read as: Long/Integer int, Double double, YesNo bool
// (int32() gives -1 for true), DateTime QDateTime, Text/Memo QString.
// A table record set reads one row at a time (never the whole table) and
// sees rows added by others as it moves; a query record set reads its whole
// result when it is opened.
class Recordset {
public:
    ~Recordset();

    bool eof() const;
    bool isEmpty() const;
    void moveFirst();
    void moveNext();

    // Moves to the first row whose `field` equals `value` (text without
    // regard to case; a quote in the value is just a character). Returns
    // false and leaves the position unchanged when none matches.
    bool findFirst(const QString& field, const QVariant& value);

    QVariant value(const QString& field) const;
    QString text(const QString& field) const;
    qint32 int32(const QString& field) const;
    bool isNull(const QString& field) const;
    QStringList fieldNames() const;

    // Starts a new row; for an auto-increment key, value("ID") is readable at
    // once. Nothing is visible to others until update(); other writers wait
    // (busy time-out) until then. After update() or cancelUpdate() the
    // position is where it was before addNew(); an abandoned row's number is
    // not handed out again.
    void addNew();
    // Starts editing the current row.
    void edit();
    // Assigns a field of the row being added or edited. Text longer than the
    // field's width, or a text that is not a number for a number field,
    // throws DbError. A bool or any non-zero number for a yes/no field stores
    // true (-1); 0 or false stores 0; an invalid QVariant stores null.
    // QDateTime for a date field is stored as "YYYY-MM-DD HH:MM:SS"; a text
    // for a date field is converted as en-US date text. An empty (or blank)
    // text for a number, date or yes/no field stores null.
    void setValue(const QString& field, const QVariant& value);
    // Stores the row being added or edited (all or nothing).
    void update();
    // Abandons the row being added or edited.
    void cancelUpdate();
    // Deletes the current row.
    void remove();

private:
    friend class Database;
    Recordset();
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace vts::db
