#include "Database.h"

#include "Conversions.h"
#include "Paths.h"

#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <QVarLengthArray>

#include <cmath>
#include <map>
#include <optional>

namespace vts::db {

QString noCase() { return QStringLiteral(" COLLATE ") + QLatin1String(kNoCaseCollation); }

QString foldCase(const QString& text) {
    QVarLengthArray<UChar, 128> out(text.size() * 3 + 1);
    UErrorCode e = U_ZERO_ERROR;
    const int32_t n = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()),
                                    reinterpret_cast<const UChar*>(text.utf16()),
                                    static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT, &e);
    if (U_FAILURE(e)) return text.toCaseFolded();
    return QString(reinterpret_cast<const QChar*>(out.constData()), n);
}

DbError::DbError(const QString& message, const QString& file)
    : std::runtime_error(
          (file.isEmpty() ? message : message + QStringLiteral(" (") + file + QLatin1Char(')'))
              .toStdString()),
      m_message(message),
      m_file(file) {}

namespace {

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

QString declaredType(const FieldDef& f) {
    switch (f.type) {
        case FieldType::Long:
            return f.autoIncrement ? QStringLiteral("INTEGER") : QStringLiteral("LONG");
        case FieldType::Text:
            return QStringLiteral("TEXT(%1)").arg(f.size > 0 ? f.size : 255);
        case FieldType::DateTime:
            return QStringLiteral("DATETIME");
        case FieldType::YesNo:
            return QStringLiteral("YESNO");
        // TEXT affinity, so a memo holding digits stays text.
        case FieldType::Memo:
            return QStringLiteral("LONGTEXT");
        case FieldType::Double:
            return QStringLiteral("DOUBLE");
        case FieldType::Integer:
            return QStringLiteral("SHORT");
    }
    return QStringLiteral("TEXT");
}

Column columnFromDecl(const QString& name, const QString& decl, bool pk) {
    Column c;
    c.name = name;
    const QString d = decl.trimmed().toUpper();
    static const QRegularExpression textRe(QStringLiteral(R"(^TEXT\s*\(\s*(\d+)\s*\)$)"));
    if (auto m = textRe.match(d); m.hasMatch()) {
        c.type = FieldType::Text;
        c.size = m.captured(1).toInt();
    } else if (d == QLatin1String("LONGTEXT") || d == QLatin1String("MEMO")) {
        c.type = FieldType::Memo;
    } else if (d == QLatin1String("LONG")) {
        c.type = FieldType::Long;
    } else if (d == QLatin1String("SHORT")) {
        c.type = FieldType::Integer;
    } else if (d == QLatin1String("INTEGER") && pk) {
        c.type = FieldType::Long;
        c.rowidAlias = true;
    } else if (d == QLatin1String("DATETIME")) {
        c.type = FieldType::DateTime;
    } else if (d == QLatin1String("YESNO")) {
        c.type = FieldType::YesNo;
    } else if (d == QLatin1String("DOUBLE")) {
        c.type = FieldType::Double;
    } else {
        c.known = false;
    }
    return c;
}

QString quoteIdent(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

bool isTextual(const Column& c) {
    return c.known && (c.type == FieldType::Text || c.type == FieldType::Memo);
}

}  // namespace

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

    void close() {
        for (auto& [sql, st] : statements) sqlite3_finalize(st);
        statements.clear();
        tables.clear();
        if (db) sqlite3_close_v2(db);
        db = nullptr;
    }

    [[noreturn]] void fail(const QString& what, int rc = SQLITE_ERROR) const {
        QString detail;
        const int code = rc & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            detail = QStringLiteral("the database is locked by another program");
        else if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
            detail = QStringLiteral("the file is not a database or is damaged");
        else if (code == SQLITE_READONLY)
            detail = QStringLiteral("the database is read-only");
        else if (code == SQLITE_FULL)
            detail = QStringLiteral("the disk is full");
        else if (db)
            detail = QString::fromUtf8(sqlite3_errmsg(db));
        else
            detail = QString::fromUtf8(sqlite3_errstr(rc));
        throw DbError(what + QStringLiteral(": ") + detail, path);
    }

    void requireOpen() const {
        if (!db) throw DbError(QStringLiteral("The database is closed"), path);
    }

    sqlite3_stmt* prepare(const QString& sql) {
        requireOpen();
        auto it = statements.find(sql);
        if (it != statements.end()) {
            sqlite3_reset(it->second);
            sqlite3_clear_bindings(it->second);
            return it->second;
        }
        if (statements.size() >= kStatementCacheSize) {
            // Every statement is run to its end before the next is prepared,
            // so none is in use here.
            for (auto& [text, old] : statements) sqlite3_finalize(old);
            statements.clear();
        }
        sqlite3_stmt* st = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()),
                                          SQLITE_PREPARE_PERSISTENT, &st, &tail);
        if (rc != SQLITE_OK) fail(QStringLiteral("Cannot prepare statement"), rc);
        if (tail && QByteArray(tail).trimmed().size() > 0 && QByteArray(tail).trimmed() != ";") {
            sqlite3_finalize(st);
            throw DbError(QStringLiteral("Only one statement may be executed at a time"), path);
        }
        if (!st) throw DbError(QStringLiteral("Empty statement"), path);
        statements.emplace(sql, st);
        return st;
    }

    void bind(sqlite3_stmt* st, int pos, const QVariant& v) {
        int rc = SQLITE_OK;
        if (!v.isValid() || v.isNull()) {
            rc = sqlite3_bind_null(st, pos);
        } else {
            switch (v.typeId()) {
                case QMetaType::Bool:
                    rc = sqlite3_bind_int(st, pos, v.toBool() ? -1 : 0);
                    break;
                case QMetaType::Int:
                case QMetaType::Short:
                case QMetaType::UInt:
                case QMetaType::LongLong:
                case QMetaType::Long:
                case QMetaType::UShort:
                case QMetaType::Char:
                case QMetaType::SChar:
                case QMetaType::UChar:
                    rc = sqlite3_bind_int64(st, pos, v.toLongLong());
                    break;
                case QMetaType::Double:
                case QMetaType::Float:
                    rc = sqlite3_bind_double(st, pos, v.toDouble());
                    break;
                case QMetaType::QDateTime: {
                    const QByteArray t = conv::toStoreText(v.toDateTime()).toUtf8();
                    rc = sqlite3_bind_text(st, pos, t.constData(), int(t.size()), SQLITE_TRANSIENT);
                    break;
                }
                case QMetaType::QDate: {
                    const QByteArray t =
                        conv::toStoreText(QDateTime(v.toDate(), QTime(0, 0))).toUtf8();
                    rc = sqlite3_bind_text(st, pos, t.constData(), int(t.size()), SQLITE_TRANSIENT);
                    break;
                }
                case QMetaType::QByteArray: {
                    const QByteArray b = v.toByteArray();
                    rc = sqlite3_bind_blob(st, pos, b.constData(), int(b.size()), SQLITE_TRANSIENT);
                    break;
                }
                default: {
                    // A null QString is the empty text, never SQL null.
                    const QByteArray t = v.toString().toUtf8();
                    rc = sqlite3_bind_text(st, pos, t.isNull() ? "" : t.constData(), int(t.size()),
                                           SQLITE_TRANSIENT);
                }
            }
        }
        if (rc != SQLITE_OK) fail(QStringLiteral("Cannot bind a value"), rc);
    }

    void bindAll(sqlite3_stmt* st, const QVariantList& params) {
        if (sqlite3_bind_parameter_count(st) != params.size())
            throw DbError(QStringLiteral("The statement expects %1 values, %2 given")
                              .arg(sqlite3_bind_parameter_count(st))
                              .arg(params.size()),
                          path);
        for (int i = 0; i < params.size(); ++i) bind(st, i + 1, params.at(i));
    }

    // Runs a statement to completion; returns the changed rows.
    int run(const QString& sql, const QVariantList& params = {}) {
        sqlite3_stmt* st = prepare(sql);
        bindAll(st, params);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) fail(QStringLiteral("Statement failed"), rc);
        return sqlite3_changes(db);
    }

    void runPlain(const char* sql) {
        requireOpen();
        char* err = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
        sqlite3_free(err);
        if (rc != SQLITE_OK) fail(QString::fromLatin1(sql), rc);
    }

    std::shared_ptr<const TableInfo> table(const QString& name) {
        requireOpen();
        const QString key = name.toLower();
        if (auto it = tables.find(key); it != tables.end()) return it->second;
        sqlite3_stmt* st = prepare(QStringLiteral(
            "SELECT name, sql FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE"));
        bind(st, 1, name);
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) {
            sqlite3_reset(st);
            if (rc == SQLITE_DONE)
                throw DbError(QStringLiteral("Cannot find the table '%1'").arg(name), path);
            fail(QStringLiteral("Cannot read the table list"), rc);
        }
        auto info = std::make_shared<TableInfo>();
        info->name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        info->autoIncrement =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))
                .contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
        sqlite3_reset(st);

        sqlite3_stmt* ti =
            prepare(QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?)"));
        bind(ti, 1, info->name);
        while ((rc = sqlite3_step(ti)) == SQLITE_ROW) {
            const QString col =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(ti, 0)));
            const QString decl =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(ti, 1)));
            info->index.insert(col.toLower(), int(info->columns.size()));
            info->columns.push_back(columnFromDecl(col, decl, sqlite3_column_int(ti, 2) == 1));
        }
        sqlite3_reset(ti);
        if (rc != SQLITE_DONE) fail(QStringLiteral("Cannot read the fields of '%1'").arg(name), rc);
        tables.emplace(key, info);
        return info;
    }

    // Rows started by addNew are made inside one write transaction, taken at
    // the first addNew and committed when the last pending row is stored or
    // abandoned. Holding the write lock is what makes the number handed out
    // at addNew safe from other processes.
    void beginAdd() {
        if (pendingAdds == 0 && sqlite3_get_autocommit(db)) run(QStringLiteral("BEGIN IMMEDIATE"));
        ++pendingAdds;
    }
    void endAdd() {
        if (pendingAdds > 0 && --pendingAdds == 0) {
            reserved.clear();
            if (sqlite3_get_autocommit(db)) return;
            try {
                run(QStringLiteral("COMMIT"));
            } catch (...) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
    }
    // The number the next new row of `t` gets: above every row there is,
    // above every number the table ever handed out, above every number
    // reserved by a row still being added on this connection.
    qint64 nextRowid(const TableInfo& t) {
        qint64 top = reserved.value(t.name.toLower(), 0);
        const auto scalar = [&](const QString& sql, bool bindName) {
            sqlite3_stmt* st = prepare(sql);
            if (bindName) bind(st, 1, t.name);
            const int rc = sqlite3_step(st);
            qint64 v = 0;
            if (rc == SQLITE_ROW) v = sqlite3_column_int64(st, 0);
            sqlite3_reset(st);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                fail(QStringLiteral("Cannot number the new row"), rc);
            return v;
        };
        if (t.autoIncrement)
            top = std::max(
                top,
                scalar(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"), true));
        top = std::max(
            top, scalar(QStringLiteral("SELECT max(rowid) FROM ") + quoteIdent(t.name), false));
        const qint64 next = top + 1;
        reserved.insert(t.name.toLower(), next);
        return next;
    }
    // Marks `id` as used in the table's counter although no row holds it.
    void keepUsed(const TableInfo& t, qint64 id) {
        if (!t.autoIncrement) return;
        if (run(QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE name = ? AND seq < ?"),
                {qlonglong(id), t.name, qlonglong(id)}) == 0)
            run(QStringLiteral(
                    "INSERT INTO sqlite_sequence (name, seq) SELECT ?, ? WHERE NOT EXISTS "
                    "(SELECT 1 FROM sqlite_sequence WHERE name = ?)"),
                {t.name, qlonglong(id), t.name});
    }
    void abortAdds() {
        if (db && !sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        pendingAdds = 0;
        reserved.clear();
    }
};

namespace {

// Reads one result column as the field's kind would give it.
QVariant readColumn(sqlite3_stmt* st, int i, const Column& c) {
    const int t = sqlite3_column_type(st, i);
    if (t == SQLITE_NULL) return {};
    const auto asText = [&] {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                 sqlite3_column_bytes(st, i));
    };
    if (!c.known) {
        switch (t) {
            case SQLITE_INTEGER: {
                const qint64 v = sqlite3_column_int64(st, i);
                if (v >= INT32_MIN && v <= INT32_MAX) return QVariant(int(v));
                return QVariant(v);
            }
            case SQLITE_FLOAT:
                return sqlite3_column_double(st, i);
            case SQLITE_BLOB:
                return QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)),
                                  sqlite3_column_bytes(st, i));
            default:
                return asText();
        }
    }
    switch (c.type) {
        case FieldType::Long:
        case FieldType::Integer:
            if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
                const qint64 v = t == SQLITE_INTEGER
                                     ? sqlite3_column_int64(st, i)
                                     : qint64(conv::roundHalfEven(sqlite3_column_double(st, i)));
                if (v >= INT32_MIN && v <= INT32_MAX) return QVariant(int(v));
                return QVariant(v);
            }
            return asText();
        case FieldType::Double:
            if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_column_double(st, i);
            return asText();
        case FieldType::YesNo:
            if (t == SQLITE_INTEGER || t == SQLITE_FLOAT)
                return sqlite3_column_double(st, i) != 0.0;
            return asText();
        case FieldType::DateTime: {
            const QString s = asText();
            if (auto dt = conv::fromStoreText(s)) return *dt;
            return s;
        }
        case FieldType::Text:
        case FieldType::Memo:
            return asText();
    }
    return asText();
}

// Numbers typed as text: blanks around them allowed, en-US thousands
// separators allowed, nothing else.
std::optional<double> numberFromText(const QString& s) {
    const QString t = s.trimmed();
    bool ok = false;
    double v = QLocale::c().toDouble(t, &ok);
    if (ok) return v;
    v = QLocale(QLocale::English, QLocale::UnitedStates).toDouble(t, &ok);
    if (ok) return v;
    return std::nullopt;
}

std::optional<bool> yesNoFromText(const QString& s) {
    const QString t = s.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off"))
        return false;
    if (auto n = numberFromText(t)) return *n != 0.0;
    return std::nullopt;
}

bool isNumberType(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return true;
        default:
            return false;
    }
}

// Same value as the text compare of a criterion: text without regard to
// case, numbers by value.
bool sameValue(const QVariant& a, const QVariant& b) {
    if (!a.isValid() || !b.isValid()) return false;
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString) {
        if (isNumberType(a) || isNumberType(b)) {
            auto na = isNumberType(a) ? std::optional<double>(a.toDouble())
                                      : numberFromText(a.toString());
            auto nb = isNumberType(b) ? std::optional<double>(b.toDouble())
                                      : numberFromText(b.toString());
            return na && nb && *na == *nb;
        }
        return a.toString().compare(b.toString(), Qt::CaseInsensitive) == 0;
    }
    if (a.typeId() == QMetaType::Bool || b.typeId() == QMetaType::Bool)
        return (a.toDouble() != 0.0) == (b.toDouble() != 0.0);
    if (isNumberType(a) && isNumberType(b)) return a.toDouble() == b.toDouble();
    return a == b;
}

}  // namespace

// ---------------------------------------------------------------------------

struct Database::Impl {
    std::shared_ptr<Connection> conn;
};

Database::Database(sqlite3* db, QString path) : d(std::make_unique<Impl>()) {
    d->conn = std::make_shared<Connection>();
    d->conn->db = db;
    d->conn->path = std::move(path);
}

Database::~Database() { close(); }

namespace {

// ---------------------------------------------------------------------------
// Case-insensitive text beyond ASCII: the collation VTS_NOCASE and LIKE.

using Folded = QVarLengthArray<UChar, 128>;

bool isAscii(const unsigned char* p, int n) {
    for (int i = 0; i < n; ++i) {
        if (p[i] >= 0x80) return false;
    }
    return true;
}

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c;
}

// UTF-8 text, fully case folded, as UTF-16. Invalid bytes become U+FFFD.
void foldUtf8(const unsigned char* p, int n, Folded& out) {
    Folded wide;
    UErrorCode e = U_ZERO_ERROR;
    int32_t len = 0;
    wide.resize(n + 1);
    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &len,
                         reinterpret_cast<const char*>(p), n, 0xFFFD, nullptr, &e);
    if (e == U_BUFFER_OVERFLOW_ERROR) {
        e = U_ZERO_ERROR;
        wide.resize(len + 1);
        u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &len,
                             reinterpret_cast<const char*>(p), n, 0xFFFD, nullptr, &e);
    }
    if (U_FAILURE(e)) len = 0;
    out.resize(len * 3 + 1);  // full folding makes a text at most three times longer
    e = U_ZERO_ERROR;
    const int32_t folded = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), wide.data(),
                                         len, U_FOLD_CASE_DEFAULT, &e);
    out.resize(U_FAILURE(e) ? 0 : folded);
}

int compareNoCase(void*, int na, const void* a, int nb, const void* b) {
    const auto* pa = static_cast<const unsigned char*>(a);
    const auto* pb = static_cast<const unsigned char*>(b);
    if (isAscii(pa, na) && isAscii(pb, nb)) {
        const int n = std::min(na, nb);
        for (int i = 0; i < n; ++i) {
            const int d = lowerAscii(pa[i]) - lowerAscii(pb[i]);
            if (d != 0) return d;
        }
        return na - nb;
    }
    Folded fa, fb;
    foldUtf8(pa, na, fa);
    foldUtf8(pb, nb, fb);
    return u_strCompare(fa.data(), static_cast<int32_t>(fa.size()), fb.data(),
                        static_cast<int32_t>(fb.size()), true);
}

// Code points of a folded text.
using Points = QVarLengthArray<char32_t, 128>;

void foldPoints(const unsigned char* p, int n, Points& out) {
    out.clear();
    if (isAscii(p, n)) {
        for (int i = 0; i < n; ++i) out.append(lowerAscii(p[i]));
        return;
    }
    Folded f;
    foldUtf8(p, n, f);
    for (int32_t i = 0; i < f.size();) {
        UChar32 c = 0;
        U16_NEXT(f.data(), i, static_cast<int32_t>(f.size()), c);
        out.append(static_cast<char32_t>(c));
    }
}

// SQL LIKE over folded code points: '%' any run, '_' one character, `escape`
// (when given) makes the next pattern character plain.
bool likeMatch(const Points& p, const Points& s, std::optional<char32_t> escape) {
    qsizetype pi = 0, si = 0, starP = -1, starS = 0;
    while (si < s.size()) {
        if (pi < p.size()) {
            const char32_t c = p[pi];
            if (escape && c == *escape) {
                if (pi + 1 < p.size() && p[pi + 1] == s[si]) {
                    pi += 2;
                    ++si;
                    continue;
                }
            } else if (c == U'%') {
                starP = ++pi;
                starS = si;
                continue;
            } else if (c == U'_' || c == s[si]) {
                ++pi;
                ++si;
                continue;
            }
        }
        if (starP < 0) return false;
        pi = starP;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == U'%') ++pi;
    return pi == p.size();
}

void deletePoints(void* p) { delete static_cast<Points*>(p); }

// like(pattern, text[, escape]), the function behind "text LIKE pattern".
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;  // NULL result
    }
    std::optional<char32_t> escape;
    if (argc == 3) {
        Points e;
        foldPoints(sqlite3_value_text(argv[2]), sqlite3_value_bytes(argv[2]), e);
        if (e.size() != 1) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = e[0];
    }
    // The pattern is the same for every row of a statement: folded once.
    auto* pattern = static_cast<Points*>(sqlite3_get_auxdata(ctx, 0));
    if (!pattern) {
        pattern = new Points;
        foldPoints(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]), *pattern);
        sqlite3_set_auxdata(ctx, 0, pattern, deletePoints);
        pattern = static_cast<Points*>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) {
            sqlite3_result_error_nomem(ctx);
            return;
        }
    }
    Points text;
    foldPoints(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]), text);
    sqlite3_result_int(ctx, likeMatch(*pattern, text, escape) ? 1 : 0);
}

void registerTextFunctions(sqlite3* db) {
    sqlite3_create_collation_v2(db, kNoCaseCollation, SQLITE_UTF8, nullptr, compareNoCase, nullptr);
    for (int args : {2, 3}) {
        sqlite3_create_function_v2(db, "like", args,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   likeFunction, nullptr, nullptr, nullptr);
    }
}

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

}  // namespace

std::unique_ptr<Database> Database::open(const QString& dir, const QString& bareName) {
    return openPath(paths::resolve(bareName, dir));
}

std::unique_ptr<Database> Database::openPath(const QString& path) {
    const QString real = paths::resolve(path);
    const QFileInfo fi(real);
    if (!fi.exists()) throw DbError(QStringLiteral("Cannot find the database file"), real);
    if (!fi.isFile()) throw DbError(QStringLiteral("The database is not a file"), real);
    sqlite3* h = openHandle(real, SQLITE_OPEN_READWRITE);
    std::unique_ptr<Database> db(new Database(h, real));
    prepareHandle(*db->d->conn);
    return db;
}

std::unique_ptr<Database> Database::create(const QString& path) {
    const QString real = paths::resolve(path);
    if (QFileInfo::exists(real)) throw DbError(QStringLiteral("The database already exists"), real);
    sqlite3* h = openHandle(real, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
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

// ---------------------------------------------------------------------------
// executeJet: "delete [*] from T [where A op v [AND B op w ...]]"

namespace {

struct JetCondition {
    QString field;
    QString op;  // =, <>, <, >, <=, >=, LIKE
    QVariant value;
    bool isDate = false;
};

class JetParser {
public:
    JetParser(const QString& text, const QString& file) : m_s(text), m_file(file) {}

    void skipBlanks() {
        while (m_pos < m_s.size() && m_s.at(m_pos).isSpace()) ++m_pos;
    }
    bool atEnd() {
        skipBlanks();
        return m_pos >= m_s.size() || (m_s.mid(m_pos).trimmed() == QLatin1String(";"));
    }
    bool keyword(const char* word) {
        skipBlanks();
        const QString w = QString::fromLatin1(word);
        if (m_s.mid(m_pos, w.size()).compare(w, Qt::CaseInsensitive) != 0) return false;
        const qsizetype end = m_pos + w.size();
        if (end < m_s.size() && (m_s.at(end).isLetterOrNumber() || m_s.at(end) == QLatin1Char('_')))
            return false;
        m_pos = end;
        return true;
    }
    bool symbol(QChar ch) {
        skipBlanks();
        if (m_pos < m_s.size() && m_s.at(m_pos) == ch) {
            ++m_pos;
            return true;
        }
        return false;
    }
    QString identifier() {
        skipBlanks();
        if (symbol(QLatin1Char('['))) {
            const qsizetype end = m_s.indexOf(QLatin1Char(']'), m_pos);
            if (end < 0) error(QStringLiteral("missing ]"));
            QString name = m_s.mid(m_pos, end - m_pos);
            m_pos = end + 1;
            return name;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_s.size() &&
               (m_s.at(m_pos).isLetterOrNumber() || m_s.at(m_pos) == QLatin1Char('_')))
            ++m_pos;
        if (m_pos == start) error(QStringLiteral("a name was expected"));
        return m_s.mid(start, m_pos - start);
    }
    QString op() {
        skipBlanks();
        if (keyword("LIKE")) return QStringLiteral("LIKE");
        for (const char* o : {"<=", ">=", "<>", "=", "<", ">"}) {
            QString s = QString::fromLatin1(o);
            if (m_s.mid(m_pos, s.size()) == s) {
                m_pos += s.size();
                return s;
            }
        }
        error(QStringLiteral("a comparison was expected"));
    }
    // A quoted text. A doubled quote is one quote; a lone quote that is not
    // followed by the end of the statement or by " AND " is taken as a
    // character of the text, so an apostrophe in a name does not end it.
    QString quoted() {
        QString out;
        while (m_pos < m_s.size()) {
            const QChar ch = m_s.at(m_pos);
            if (ch != QLatin1Char('\'')) {
                out += ch;
                ++m_pos;
                continue;
            }
            if (m_pos + 1 < m_s.size() && m_s.at(m_pos + 1) == QLatin1Char('\'')) {
                out += ch;
                m_pos += 2;
                continue;
            }
            static const QRegularExpression closer(QStringLiteral(R"(^\s*(;?\s*$|AND\s))"),
                                                   QRegularExpression::CaseInsensitiveOption);
            if (closer.match(m_s.mid(m_pos + 1)).hasMatch()) {
                ++m_pos;
                return out;
            }
            out += ch;
            ++m_pos;
        }
        error(QStringLiteral("a text has no closing quote"));
    }
    JetCondition condition() {
        JetCondition c;
        c.field = identifier();
        c.op = op();
        skipBlanks();
        if (symbol(QLatin1Char('#'))) {
            const qsizetype end = m_s.indexOf(QLatin1Char('#'), m_pos);
            if (end < 0) error(QStringLiteral("a date has no closing #"));
            const auto dt = conv::parseDateTime(m_s.mid(m_pos, end - m_pos));
            if (!dt) error(QStringLiteral("'%1' is not a date").arg(m_s.mid(m_pos, end - m_pos)));
            m_pos = end + 1;
            c.value = *dt;
            c.isDate = true;
        } else if (symbol(QLatin1Char('\''))) {
            c.value = quoted();
        } else if (symbol(QLatin1Char('"'))) {
            const qsizetype end = m_s.indexOf(QLatin1Char('"'), m_pos);
            if (end < 0) error(QStringLiteral("a text has no closing quote"));
            c.value = m_s.mid(m_pos, end - m_pos);
            m_pos = end + 1;
        } else {
            static const QRegularExpression num(QStringLiteral(R"(^[-+]?\d+(\.\d+)?)"));
            const auto m = num.match(m_s.mid(m_pos));
            if (!m.hasMatch()) error(QStringLiteral("a value was expected"));
            m_pos += m.capturedLength();
            c.value = m.captured().contains(QLatin1Char('.')) ? QVariant(m.captured().toDouble())
                                                              : QVariant(m.captured().toLongLong());
        }
        if (c.op == QLatin1String("LIKE") && c.value.typeId() != QMetaType::QString)
            error(QStringLiteral("LIKE needs a quoted pattern"));
        return c;
    }
    [[noreturn]] void error(const QString& why) const {
        throw DbError(QStringLiteral("Syntax error in statement \"%1\": %2").arg(m_s, why), m_file);
    }

private:
    QString m_s;
    QString m_file;
    qsizetype m_pos = 0;
};

// The desktop-database pattern ("SMI*", "A?C") as an SQL LIKE pattern with
// "\" as escape character.
QString likePattern(const QString& jet) {
    QString out;
    bool inClass = false;
    for (QChar ch : jet) {
        if (inClass) {  // "[*]" stands for a literal character
            if (ch == QLatin1Char(']')) {
                inClass = false;
                continue;
            }
            if (ch == QLatin1Char('%') || ch == QLatin1Char('_') || ch == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += ch;
            continue;
        }
        if (ch == QLatin1Char('*'))
            out += QLatin1Char('%');
        else if (ch == QLatin1Char('?'))
            out += QLatin1Char('_');
        else if (ch == QLatin1Char('['))
            inClass = true;
        else {
            if (ch == QLatin1Char('%') || ch == QLatin1Char('_') || ch == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += ch;
        }
    }
    return out;
}

}  // namespace

int Database::executeJet(const QString& statement) {
    Connection& c = *d->conn;
    c.requireOpen();
    JetParser p(statement, c.path);
    if (!p.keyword("DELETE")) p.error(QStringLiteral("only delete statements are understood"));
    p.symbol(QLatin1Char('*'));
    if (!p.keyword("FROM")) p.error(QStringLiteral("FROM was expected"));
    const auto table = c.table(p.identifier());
    QStringList where;
    QVariantList params;
    if (!p.atEnd()) {
        if (!p.keyword("WHERE")) p.error(QStringLiteral("WHERE was expected"));
        do {
            const JetCondition cond = p.condition();
            const int col = table->find(cond.field);
            if (col < 0)
                p.error(QStringLiteral("no field '%1' in %2").arg(cond.field, table->name));
            const Column& column = table->columns[size_t(col)];
            QString term =
                quoteIdent(column.name) + QLatin1Char(' ') + cond.op + QStringLiteral(" ?");
            if (cond.op == QLatin1String("LIKE")) {
                term += QStringLiteral(" ESCAPE '\\'");
                params << likePattern(cond.value.toString());
            } else {
                if (isTextual(column)) term += noCase();
                if (cond.isDate && column.known && column.type == FieldType::DateTime)
                    params << conv::toStoreText(cond.value.toDateTime());
                else
                    params << cond.value;
            }
            where << term;
        } while (p.keyword("AND"));
        if (!p.atEnd()) p.error(QStringLiteral("unexpected text after the criteria"));
    }
    QString sql = QStringLiteral("DELETE FROM ") + quoteIdent(table->name);
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return c.run(sql, params);
}

// ---------------------------------------------------------------------------
// Record sets

struct Recordset::Impl {
    std::shared_ptr<Connection> conn;
    bool isQuery = false;

    // Table record set: rows of `table` matching `condSql`, in row order,
    // read one row at a time.
    std::shared_ptr<const TableInfo> table;
    QString condSql;  // "" or "<col> = ? [COLLATE VTS_NOCASE]"
    QVariant condParam;
    std::optional<qint64> rowid;  // current row; empty at the end
    bool deleted = false;
    std::vector<QVariant> row;

    // Query record set: the result, read at open.
    std::vector<Column> qcolumns;
    QHash<QString, int> qindex;
    std::vector<std::vector<QVariant>> qrows;
    size_t qpos = 0;

    enum class Mode { None, Adding, Editing } mode = Mode::None;
    QHash<QByteArray, QString> sqlCache;  // statement per assigned-field pattern
    qint64 editRowid = 0;
    std::vector<QVariant> buffer;
    std::vector<bool> dirty;

    const Column& column(int i) const {
        return isQuery ? qcolumns[size_t(i)] : table->columns[size_t(i)];
    }
    int find(const QString& field) const {
        return isQuery ? qindex.value(field.toLower(), -1) : table->find(field);
    }
    int findOrThrow(const QString& field) const {
        const int i = find(field);
        if (i < 0)
            throw DbError(
                QStringLiteral("Item not found in this collection: no field '%1'").arg(field),
                conn->path);
        return i;
    }
    QString where(const QString& extra = QString()) const {
        QStringList parts;
        if (!condSql.isEmpty()) parts << condSql;
        if (!extra.isEmpty()) parts << extra;
        return parts.isEmpty() ? QString()
                               : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
    }

    // Positions on the first row whose rowid is above `after` (or the first
    // row at all), optionally also matching `extra` with `extraParam`.
    bool seek(std::optional<qint64> after, const QString& extra = QString(),
              const QVariant& extraParam = QVariant(), bool keepOnMiss = false) {
        QString cond = extra;
        if (after)
            cond = cond.isEmpty() ? QStringLiteral("rowid > ?")
                                  : QStringLiteral("rowid > ? AND ") + cond;
        const QString sql = QStringLiteral("SELECT rowid, * FROM ") + quoteIdent(table->name) +
                            where(cond) + QStringLiteral(" ORDER BY rowid LIMIT 1");
        sqlite3_stmt* st = conn->prepare(sql);
        int pos = 1;
        if (!condSql.isEmpty()) conn->bind(st, pos++, condParam);
        if (after) conn->bind(st, pos++, *after);
        if (!extra.isEmpty()) conn->bind(st, pos++, extraParam);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            rowid = sqlite3_column_int64(st, 0);
            row.assign(table->columns.size(), QVariant());
            const int n = std::min(int(table->columns.size()), sqlite3_column_count(st) - 1);
            for (int i = 0; i < n; ++i)
                row[size_t(i)] = readColumn(st, i + 1, table->columns[size_t(i)]);
            deleted = false;
            sqlite3_reset(st);
            return true;
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            conn->fail(QStringLiteral("Cannot read from '%1'").arg(table->name), rc);
        if (!keepOnMiss) {
            rowid.reset();
            row.clear();
            deleted = false;
        }
        return false;
    }

    // Re-reads row `id` (after an edit) so the record set shows what is stored.
    void load(qint64 id) {
        sqlite3_stmt* st =
            conn->prepare(QStringLiteral("SELECT rowid, * FROM ") + quoteIdent(table->name) +
                          QStringLiteral(" WHERE rowid = ?"));
        conn->bind(st, 1, qlonglong(id));
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const int n = std::min(int(table->columns.size()), sqlite3_column_count(st) - 1);
            for (int i = 0; i < n; ++i)
                row[size_t(i)] = readColumn(st, i + 1, table->columns[size_t(i)]);
        }
        sqlite3_reset(st);
        if (rc == SQLITE_DONE)
            deleted = true;
        else if (rc != SQLITE_ROW)
            conn->fail(QStringLiteral("Cannot read from '%1'").arg(table->name), rc);
    }

    void requireNoPendingChange(const char* what) const {
        if (mode != Mode::None)
            throw DbError(QStringLiteral("%1 is not allowed while a row is being added or edited")
                              .arg(QString::fromLatin1(what)),
                          conn->path);
    }
    void requireUpdatable() const {
        if (isQuery) throw DbError(QStringLiteral("This record set cannot be updated"), conn->path);
    }
    void requireCurrent() const {
        if (isQuery ? qpos >= qrows.size() : !rowid)
            throw DbError(QStringLiteral("No current record"), conn->path);
        if (!isQuery && deleted) throw DbError(QStringLiteral("Record is deleted"), conn->path);
    }

    QVariant convertForField(const Column& c, const QVariant& v) const;
};

Recordset::Recordset() : d(std::make_unique<Impl>()) {}

Recordset::~Recordset() {
    if (d->mode == Impl::Mode::Adding && d->conn && d->conn->db) {
        try {
            cancelUpdate();
        } catch (...) {
            d->conn->abortAdds();
        }
    }
}

std::unique_ptr<Recordset> Database::openTable(const QString& table) {
    std::unique_ptr<Recordset> rs(new Recordset());
    rs->d->conn = d->conn;
    rs->d->table = d->conn->table(table);
    rs->d->seek(std::nullopt);
    return rs;
}

std::unique_ptr<Recordset> Database::openTableWhere(const QString& table, const QString& field,
                                                    const QVariant& value) {
    std::unique_ptr<Recordset> rs(new Recordset());
    rs->d->conn = d->conn;
    rs->d->table = d->conn->table(table);
    const int col = rs->d->findOrThrow(field);
    const Column& c = rs->d->table->columns[size_t(col)];
    rs->d->condSql = (c.rowidAlias ? QStringLiteral("rowid") : quoteIdent(c.name)) +
                     QStringLiteral(" = ?") + (isTextual(c) ? noCase() : QString());
    rs->d->condParam = rs->d->convertForField(c, value);
    rs->d->seek(std::nullopt);
    return rs;
}

std::unique_ptr<Recordset> Database::openQuery(const QString& sql, const QVariantList& params) {
    Connection& c = *d->conn;
    std::unique_ptr<Recordset> rs(new Recordset());
    rs->d->conn = d->conn;
    rs->d->isQuery = true;
    sqlite3_stmt* st = c.prepare(sql);
    c.bindAll(st, params);
    const int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
        const char* decl = sqlite3_column_decltype(st, i);
        const QString origin = QString::fromUtf8(sqlite3_column_origin_name(st, i));
        Column col =
            columnFromDecl(name, decl ? QString::fromUtf8(decl) : QString(),
                           decl && QByteArray(decl).toUpper() == "INTEGER" && !origin.isEmpty());
        rs->d->qindex.insert(name.toLower(), i);
        rs->d->qcolumns.push_back(col);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::vector<QVariant> row(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) row[size_t(i)] = readColumn(st, i, rs->d->qcolumns[size_t(i)]);
        rs->d->qrows.push_back(std::move(row));
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) c.fail(QStringLiteral("Query failed"), rc);
    return rs;
}

bool Recordset::eof() const { return d->isQuery ? d->qpos >= d->qrows.size() : !d->rowid; }

bool Recordset::isEmpty() const {
    if (d->isQuery) return d->qrows.empty();
    const QString sql = QStringLiteral("SELECT 1 FROM ") + quoteIdent(d->table->name) + d->where() +
                        QStringLiteral(" LIMIT 1");
    sqlite3_stmt* st = d->conn->prepare(sql);
    if (!d->condSql.isEmpty()) d->conn->bind(st, 1, d->condParam);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) d->conn->fail(QStringLiteral("Cannot read"), rc);
    return rc == SQLITE_DONE;
}

void Recordset::moveFirst() {
    d->requireNoPendingChange("Moving");
    if (d->isQuery) {
        d->qpos = 0;
        return;
    }
    d->seek(std::nullopt);
}

void Recordset::moveNext() {
    d->requireNoPendingChange("Moving");
    if (eof()) throw DbError(QStringLiteral("No current record"), d->conn->path);
    if (d->isQuery) {
        ++d->qpos;
        return;
    }
    d->seek(d->rowid);
}

bool Recordset::findFirst(const QString& field, const QVariant& value) {
    d->requireNoPendingChange("Finding");
    const int col = d->findOrThrow(field);
    const Column& c = d->column(col);
    if (d->isQuery) {
        for (size_t i = 0; i < d->qrows.size(); ++i) {
            if (sameValue(d->qrows[i][size_t(col)], value)) {
                d->qpos = i;
                return true;
            }
        }
        return false;
    }
    QVariant v;
    try {
        v = d->convertForField(c, value);
    } catch (const DbError&) {
        return false;  // a text that is no number matches no number field
    }
    if (!v.isValid()) return false;
    const QString term = (c.rowidAlias ? QStringLiteral("rowid") : quoteIdent(c.name)) +
                         QStringLiteral(" = ?") + (isTextual(c) ? noCase() : QString());
    return d->seek(std::nullopt, term, v, /*keepOnMiss=*/true);
}

QVariant Recordset::value(const QString& field) const {
    const int col = d->findOrThrow(field);
    if (d->mode != Impl::Mode::None) return d->buffer[size_t(col)];
    d->requireCurrent();
    if (d->isQuery) return d->qrows[d->qpos][size_t(col)];
    return d->row[size_t(col)];
}

QString Recordset::text(const QString& field) const {
    const QVariant v = value(field);
    if (!v.isValid()) return {};
    switch (v.typeId()) {
        case QMetaType::QDateTime:
            return conv::formatGeneralDate(v.toDateTime());
        case QMetaType::Bool:
            return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        case QMetaType::Double:
            return conv::formatSigned(v.toDouble()).trimmed();
        default:
            return v.toString();
    }
}

qint32 Recordset::int32(const QString& field) const {
    const QVariant v = value(field);
    if (!v.isValid()) return 0;
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? -1 : 0;
    if (v.typeId() == QMetaType::QString) {
        const auto n = numberFromText(v.toString());
        if (!n) return 0;
        try {
            return conv::toInt32(*n);
        } catch (const conv::OverflowError&) {
            throw DbError(QStringLiteral("Overflow reading field '%1'").arg(field), d->conn->path);
        }
    }
    try {
        return conv::toInt32(v.toDouble());
    } catch (const conv::OverflowError&) {
        throw DbError(QStringLiteral("Overflow reading field '%1'").arg(field), d->conn->path);
    }
}

bool Recordset::isNull(const QString& field) const { return !value(field).isValid(); }

QStringList Recordset::fieldNames() const {
    QStringList names;
    if (d->isQuery)
        for (const auto& c : d->qcolumns) names << c.name;
    else
        for (const auto& c : d->table->columns) names << c.name;
    return names;
}

void Recordset::addNew() {
    d->requireUpdatable();
    d->requireNoPendingChange("Adding a row");
    Connection& c = *d->conn;
    c.requireOpen();
    c.beginAdd();
    try {
        d->editRowid = c.nextRowid(*d->table);
    } catch (...) {
        c.endAdd();
        throw;
    }
    d->buffer.assign(d->table->columns.size(), QVariant());
    for (size_t i = 0; i < d->table->columns.size(); ++i)
        if (d->table->columns[i].rowidAlias)
            d->buffer[i] = QVariant(qlonglong(d->editRowid)).toInt();
    d->dirty.assign(d->table->columns.size(), false);
    d->mode = Impl::Mode::Adding;
}

void Recordset::edit() {
    d->requireUpdatable();
    d->requireNoPendingChange("Editing");
    d->requireCurrent();
    d->editRowid = *d->rowid;
    d->buffer = d->row;
    d->dirty.assign(d->table->columns.size(), false);
    d->mode = Impl::Mode::Editing;
}

QVariant Recordset::Impl::convertForField(const Column& c, const QVariant& v) const {
    if (!v.isValid() || v.isNull()) return {};
    const auto bad = [&](const QString& why) -> DbError {
        return DbError(
            QStringLiteral("Data type conversion error: %1 for field '%2'").arg(why, c.name),
            conn->path);
    };
    if (!c.known) return v;
    const bool isText = v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
    switch (c.type) {
        case FieldType::Long:
        case FieldType::Integer:
        case FieldType::Double: {
            double n;
            if (v.typeId() == QMetaType::Bool) {
                n = v.toBool() ? -1 : 0;
            } else if (isText) {
                const QString s = v.toString();
                if (s.trimmed().isEmpty()) return {};  // an empty box stores no value
                auto parsed = numberFromText(s);
                if (!parsed) throw bad(QStringLiteral("'%1' is not a number").arg(s.left(40)));
                n = *parsed;
            } else if (isNumberType(v)) {
                n = v.toDouble();
            } else {
                throw bad(
                    QStringLiteral("a %1 is not a number").arg(QString::fromLatin1(v.typeName())));
            }
            if (!std::isfinite(n)) throw bad(QStringLiteral("the number is out of range"));
            if (c.type == FieldType::Double) return n;
            try {
                if (c.type == FieldType::Integer) return int(conv::toInt16(n));
                return conv::toInt32(n);
            } catch (const conv::OverflowError&) {
                throw bad(QStringLiteral("%1 does not fit in %2 bits")
                              .arg(n)
                              .arg(c.type == FieldType::Integer ? 16 : 32));
            }
        }
        case FieldType::YesNo: {
            if (v.typeId() == QMetaType::Bool) return v.toBool();
            if (isNumberType(v)) return v.toDouble() != 0.0;
            if (isText) {
                if (v.toString().trimmed().isEmpty()) return {};
                if (auto b = yesNoFromText(v.toString())) return *b;
            }
            throw bad(QStringLiteral("'%1' is not yes or no").arg(v.toString().left(40)));
        }
        case FieldType::DateTime: {
            if (v.typeId() == QMetaType::QDateTime) {
                if (!v.toDateTime().isValid()) throw bad(QStringLiteral("an invalid date"));
                return v.toDateTime();
            }
            if (v.typeId() == QMetaType::QDate) {
                if (!v.toDate().isValid()) throw bad(QStringLiteral("an invalid date"));
                return QDateTime(v.toDate(), QTime(0, 0));
            }
            if (isText) {
                if (v.toString().trimmed().isEmpty()) return {};
                if (auto dt = conv::parseDateTime(v.toString())) return *dt;
            }
            throw bad(QStringLiteral("'%1' is not a date").arg(v.toString().left(40)));
        }
        case FieldType::Text:
        case FieldType::Memo: {
            QString s;
            if (v.typeId() == QMetaType::QDateTime)
                s = conv::formatGeneralDate(v.toDateTime());
            else if (v.typeId() == QMetaType::Bool)
                s = v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
            else if (v.typeId() == QMetaType::Double)
                s = conv::formatSigned(v.toDouble()).trimmed();
            else
                s = v.toString();
            if (c.type == FieldType::Text && s.size() > c.size)
                throw DbError(
                    QStringLiteral("The field '%1' is too small to accept the amount of data you "
                                   "attempted to add (%2 characters, at most %3)")
                        .arg(c.name)
                        .arg(s.size())
                        .arg(c.size),
                    conn->path);
            return s;
        }
    }
    return v;
}

void Recordset::setValue(const QString& field, const QVariant& value) {
    if (d->mode == Impl::Mode::None)
        throw DbError(QStringLiteral("A field can only be assigned after AddNew or Edit"),
                      d->conn->path);
    const int col = d->findOrThrow(field);
    const Column& c = d->table->columns[size_t(col)];
    if (c.rowidAlias)
        throw DbError(QStringLiteral("The field '%1' cannot be updated").arg(c.name),
                      d->conn->path);
    d->buffer[size_t(col)] = d->convertForField(c, value);
    d->dirty[size_t(col)] = true;
}

void Recordset::update() {
    if (d->mode == Impl::Mode::None)
        throw DbError(QStringLiteral("Update without AddNew or Edit"), d->conn->path);
    Connection& c = *d->conn;
    c.requireOpen();
    const bool adding = d->mode == Impl::Mode::Adding;
    QByteArray mask(qsizetype(d->dirty.size()), '0');
    QVariantList params;
    if (adding) params << qlonglong(d->editRowid);
    for (size_t i = 0; i < d->dirty.size(); ++i) {
        if (!d->dirty[i]) continue;
        mask[qsizetype(i)] = '1';
        params << d->buffer[i];
    }
    if (!adding) params << qlonglong(d->editRowid);
    mask.prepend(adding ? 'A' : 'E');
    QString& sql = d->sqlCache[mask];
    if (sql.isEmpty()) {
        QStringList names;
        for (size_t i = 0; i < d->dirty.size(); ++i)
            if (d->dirty[i]) names << quoteIdent(d->table->columns[i].name);
        if (adding) {
            names.prepend(QStringLiteral("rowid"));
            QStringList marks;
            for (int i = 0; i < names.size(); ++i) marks << QStringLiteral("?");
            sql = QStringLiteral("INSERT INTO ") + quoteIdent(d->table->name) +
                  QStringLiteral(" (") + names.join(QStringLiteral(", ")) +
                  QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                  QLatin1Char(')');
        } else if (!names.isEmpty()) {
            sql = QStringLiteral("UPDATE ") + quoteIdent(d->table->name) + QStringLiteral(" SET ") +
                  names.join(QStringLiteral(" = ?, ")) + QStringLiteral(" = ? WHERE rowid = ?");
        } else {
            sql = QStringLiteral("-");  // an edit that assigned nothing
        }
    }
    if (sql != QLatin1String("-")) {
        const int changed = c.run(sql, params);
        if (changed == 0 && !adding)
            throw DbError(QStringLiteral("The row was deleted by another user"), c.path);
    }
    const qint64 stored = d->editRowid;
    d->mode = Impl::Mode::None;
    if (adding) {
        c.endAdd();
    } else if (d->rowid && *d->rowid == stored) {
        d->load(stored);
    }
}

void Recordset::cancelUpdate() {
    if (d->mode == Impl::Mode::None) return;
    const bool adding = d->mode == Impl::Mode::Adding;
    d->mode = Impl::Mode::None;
    if (!adding) return;
    Connection& c = *d->conn;
    // Nothing was written for the row, but its number stays used: the
    // counter is moved past it, so the number is never handed out again.
    try {
        c.keepUsed(*d->table, d->editRowid);
    } catch (...) {
        c.abortAdds();
        throw;
    }
    c.endAdd();
}

void Recordset::remove() {
    d->requireUpdatable();
    d->requireNoPendingChange("Deleting");
    d->requireCurrent();
    d->conn->run(QStringLiteral("DELETE FROM ") + quoteIdent(d->table->name) +
                     QStringLiteral(" WHERE rowid = ?"),
                 {qlonglong(*d->rowid)});
    d->deleted = true;
}

}  // namespace vts::db
