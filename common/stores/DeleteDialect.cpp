#include "Connection.h"

#include "Conversions.h"

#include <QDateTime>
#include <QRegularExpression>

namespace vts::db {

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

}  // namespace vts::db
