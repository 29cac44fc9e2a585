#include "Connection.h"

#include "Conversions.h"

#include <QLocale>

#include <cmath>
#include <optional>

namespace vts::db {

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
