#include "Connection.h"

#include "Conversions.h"

#include <QDateTime>
#include <QRegularExpression>

namespace vts::db {

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

void Connection::close() {
    for (auto& [sql, st] : statements) sqlite3_finalize(st);
    statements.clear();
    tables.clear();
    if (db) sqlite3_close_v2(db);
    db = nullptr;
}

void Connection::fail(const QString& what, int rc) const {
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

sqlite3_stmt* Connection::prepare(const QString& sql) {
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

void Connection::bind(sqlite3_stmt* st, int pos, const QVariant& v) {
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
                const QByteArray t = conv::toStoreText(QDateTime(v.toDate(), QTime(0, 0))).toUtf8();
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

void Connection::bindAll(sqlite3_stmt* st, const QVariantList& params) {
    if (sqlite3_bind_parameter_count(st) != params.size())
        throw DbError(QStringLiteral("The statement expects %1 values, %2 given")
                          .arg(sqlite3_bind_parameter_count(st))
                          .arg(params.size()),
                      path);
    for (int i = 0; i < params.size(); ++i) bind(st, i + 1, params.at(i));
}

int Connection::run(const QString& sql, const QVariantList& params) {
    sqlite3_stmt* st = prepare(sql);
    bindAll(st, params);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) fail(QStringLiteral("Statement failed"), rc);
    return sqlite3_changes(db);
}

void Connection::runPlain(const char* sql) {
    requireOpen();
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) fail(QString::fromLatin1(sql), rc);
}

std::shared_ptr<const TableInfo> Connection::table(const QString& name) {
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

    sqlite3_stmt* ti = prepare(QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?)"));
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

void Connection::endAdd() {
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

qint64 Connection::nextRowid(const TableInfo& t) {
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
            top, scalar(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"), true));
    top = std::max(top,
                   scalar(QStringLiteral("SELECT max(rowid) FROM ") + quoteIdent(t.name), false));
    const qint64 next = top + 1;
    reserved.insert(t.name.toLower(), next);
    return next;
}

void Connection::keepUsed(const TableInfo& t, qint64 id) {
    if (!t.autoIncrement) return;
    if (run(QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE name = ? AND seq < ?"),
            {qlonglong(id), t.name, qlonglong(id)}) == 0)
        run(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) SELECT ?, ? WHERE NOT EXISTS "
                           "(SELECT 1 FROM sqlite_sequence WHERE name = ?)"),
            {t.name, qlonglong(id), t.name});
}

void Connection::abortAdds() {
    if (db && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    pendingAdds = 0;
    reserved.clear();
}

}  // namespace vts::db
