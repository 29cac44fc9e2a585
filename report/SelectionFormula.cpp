#include "SelectionFormula.h"

#include "LogStore.h"

#include <QDate>

#include <cmath>
#include <optional>

namespace vts::report {

FormulaError::FormulaError(int position, const QString& message)
    : std::runtime_error(QStringLiteral("Formula error at position %1: %2")
                             .arg(position)
                             .arg(message)
                             .toStdString()),
      m_position(position),
      m_message(message) {}

namespace {

using db::FieldType;

std::optional<db::FieldDef> logField(const QString& name) {
    static const db::TableDef table = logstore::logTable();
    for (const auto& f : table.fields) {
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) {
            return f;
        }
    }
    // The cause of a failure, kept beside the row in tblCause, reads as one
    // more field of the log row (see ReportDocument's row source).
    if (name.compare(QLatin1String("Cause"), Qt::CaseInsensitive) == 0) {
        return db::FieldDef{QStringLiteral("Cause"), db::FieldType::Text, logstore::kCauseWidth,
                            false, true};
    }
    return std::nullopt;
}

enum class Tok { End, Field, Number, Text, Ident, LParen, RParen, Comma, Op };

struct Token {
    Tok kind = Tok::End;
    QString text;  // field name, identifier, operator, or the unquoted text
    double number = 0;
    std::optional<qint64> whole;  // a number written without a decimal point
    int pos = 0;                  // 1-based
};

class Lexer {
public:
    explicit Lexer(const QString& s) : m_s(s) {}

    Token next() {
        while (m_i < m_s.size() && m_s[m_i].isSpace()) {
            ++m_i;
        }
        Token t;
        t.pos = static_cast<int>(m_i) + 1;
        if (m_i >= m_s.size()) {
            return t;
        }
        const QChar c = m_s[m_i];
        if (c == QLatin1Char('{')) {
            return field(t);
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            return text(t, c);
        }
        if (c.isDigit() || (c == QLatin1Char('.') && peekDigit(1))) {
            return number(t);
        }
        if (c.isLetter() || c == QLatin1Char('_')) {
            const qsizetype start = m_i;
            while (m_i < m_s.size() &&
                   (m_s[m_i].isLetterOrNumber() || m_s[m_i] == QLatin1Char('_'))) {
                ++m_i;
            }
            t.kind = Tok::Ident;
            t.text = m_s.mid(start, m_i - start);
            return t;
        }
        ++m_i;
        switch (c.unicode()) {
            case '(':
                t.kind = Tok::LParen;
                return t;
            case ')':
                t.kind = Tok::RParen;
                return t;
            case ',':
                t.kind = Tok::Comma;
                return t;
            case '=':
                t.kind = Tok::Op;
                t.text = QStringLiteral("=");
                return t;
            case '<':
            case '>': {
                t.kind = Tok::Op;
                t.text = c;
                if (m_i < m_s.size() && (m_s[m_i] == QLatin1Char('=') ||
                                         (c == QLatin1Char('<') && m_s[m_i] == QLatin1Char('>')))) {
                    t.text += m_s[m_i];
                    ++m_i;
                }
                return t;
            }
            default:
                throw FormulaError(t.pos, QStringLiteral("unexpected character '%1'").arg(c));
        }
    }

private:
    bool peekDigit(qsizetype ahead) const {
        return m_i + ahead < m_s.size() && m_s[m_i + ahead].isDigit();
    }

    Token field(Token t) {
        const qsizetype close = m_s.indexOf(QLatin1Char('}'), m_i);
        if (close < 0) {
            throw FormulaError(t.pos, QStringLiteral("field reference without '}'"));
        }
        const QString inner = m_s.mid(m_i + 1, close - m_i - 1).trimmed();
        m_i = close + 1;
        const qsizetype dot = inner.indexOf(QLatin1Char('.'));
        const QString table = dot < 0 ? QString() : inner.left(dot).trimmed();
        const QString name = dot < 0 ? inner : inner.mid(dot + 1).trimmed();
        if (dot < 0 || table.compare(QLatin1String("tblLog"), Qt::CaseInsensitive) != 0) {
            throw FormulaError(t.pos,
                               QStringLiteral("field %1 is not a field of tblLog").arg(inner));
        }
        const auto def = logField(name);
        if (!def) {
            throw FormulaError(t.pos, QStringLiteral("tblLog has no field %1").arg(name));
        }
        t.kind = Tok::Field;
        t.text = def->name;
        return t;
    }

    Token text(Token t, QChar quote) {
        ++m_i;
        QString value;
        while (true) {
            if (m_i >= m_s.size()) {
                throw FormulaError(t.pos, QStringLiteral("text without closing quote"));
            }
            const QChar c = m_s[m_i++];
            if (c == quote) {
                if (m_i < m_s.size() && m_s[m_i] == quote) {
                    value += quote;
                    ++m_i;
                    continue;
                }
                break;
            }
            value += c;
        }
        t.kind = Tok::Text;
        t.text = value;
        return t;
    }

    Token number(Token t) {
        const qsizetype start = m_i;
        while (m_i < m_s.size() && m_s[m_i].isDigit()) {
            ++m_i;
        }
        if (m_i < m_s.size() && m_s[m_i] == QLatin1Char('.')) {
            ++m_i;
            while (m_i < m_s.size() && m_s[m_i].isDigit()) {
                ++m_i;
            }
        }
        bool ok = false;
        t.kind = Tok::Number;
        t.text = m_s.mid(start, m_i - start);
        if (!t.text.contains(QLatin1Char('.'))) {
            // A whole number must fit a 64-bit integer: the fields it is
            // compared with hold nothing larger.
            const qint64 whole = t.text.toLongLong(&ok);
            if (!ok) {
                throw FormulaError(t.pos, QStringLiteral("the number %1 is too large").arg(t.text));
            }
            t.whole = whole;
        }
        t.number = t.text.toDouble(&ok);
        if (!ok) {
            throw FormulaError(t.pos, QStringLiteral("bad number %1").arg(t.text));
        }
        return t;
    }

    const QString& m_s;
    qsizetype m_i = 0;
};

// One side of a comparison as SQL, with what it is.
struct Operand {
    enum Kind { Field, Number, Text, Date } kind;
    QString fieldName;
    FieldType fieldType = FieldType::Text;
    QVariant value;
    int pos = 0;
};

class Parser {
public:
    explicit Parser(const QString& s) : m_lex(s) { advance(); }

    SqlFilter run() {
        SqlFilter f;
        f.where = orExpr();
        if (m_tok.kind != Tok::End) {
            fail(QStringLiteral("unexpected '%1'").arg(describe(m_tok)));
        }
        f.params = m_params;
        return f;
    }

private:
    static constexpr int kMaxDepth = 100;

    [[noreturn]] void fail(const QString& message) const { throw FormulaError(m_tok.pos, message); }

    static QString describe(const Token& t) {
        switch (t.kind) {
            case Tok::End:
                return QStringLiteral("end of formula");
            case Tok::Text:
                return QStringLiteral("'") + t.text + QStringLiteral("'");
            case Tok::Field:
                return QStringLiteral("{tblLog.") + t.text + QStringLiteral("}");
            case Tok::LParen:
                return QStringLiteral("(");
            case Tok::RParen:
                return QStringLiteral(")");
            case Tok::Comma:
                return QStringLiteral(",");
            default:
                return t.text;
        }
    }

    void advance() { m_tok = m_lex.next(); }

    bool keyword(const char* word) const {
        return m_tok.kind == Tok::Ident &&
               m_tok.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }

    void expect(Tok kind, const char* what) {
        if (m_tok.kind != kind) {
            fail(QStringLiteral("expected %1 but found %2")
                     .arg(QLatin1String(what), describe(m_tok)));
        }
        advance();
    }

    struct DepthGuard {
        DepthGuard(Parser& p) : p(p) {
            if (++p.m_depth > kMaxDepth) {
                p.fail(QStringLiteral("formula nested too deeply"));
            }
        }
        ~DepthGuard() { --p.m_depth; }
        Parser& p;
    };

    QString orExpr() {
        DepthGuard guard(*this);
        QString sql = andExpr();
        while (keyword("OR")) {
            advance();
            sql = QStringLiteral("(") + sql + QStringLiteral(" OR ") + andExpr() +
                  QStringLiteral(")");
        }
        return sql;
    }

    QString andExpr() {
        QString sql = notExpr();
        while (keyword("AND")) {
            advance();
            sql = QStringLiteral("(") + sql + QStringLiteral(" AND ") + notExpr() +
                  QStringLiteral(")");
        }
        return sql;
    }

    QString notExpr() {
        DepthGuard guard(*this);
        if (keyword("NOT")) {
            advance();
            // NOT over NULL would leave a row out of both a condition and its
            // negation; IFNULL makes a missing value count as false.
            return QStringLiteral("(NOT IFNULL(") + notExpr() + QStringLiteral(", 0))");
        }
        if (m_tok.kind == Tok::LParen) {
            advance();
            QString inner = orExpr();
            expect(Tok::RParen, "')'");
            return inner;
        }
        return comparison();
    }

    Operand operand() {
        Operand o{Operand::Number, {}, FieldType::Text, {}, m_tok.pos};
        switch (m_tok.kind) {
            case Tok::Field: {
                o.kind = Operand::Field;
                o.fieldName = m_tok.text;
                o.fieldType = logField(m_tok.text)->type;
                advance();
                return o;
            }
            case Tok::Number:
                o.kind = Operand::Number;
                o.value = m_tok.number;
                if (m_tok.whole) {
                    o.value = *m_tok.whole;
                } else if (std::abs(m_tok.number) < 9.0e18 &&
                           m_tok.number == std::trunc(m_tok.number)) {
                    o.value = static_cast<qint64>(m_tok.number);
                }
                advance();
                return o;
            case Tok::Text:
                o.kind = Operand::Text;
                o.value = m_tok.text;
                advance();
                return o;
            case Tok::Ident:
                if (keyword("Date")) {
                    return dateCall();
                }
                fail(QStringLiteral("unknown name %1").arg(m_tok.text));
            default:
                fail(QStringLiteral("expected a field, a number, a text or Date(...) but found %1")
                         .arg(describe(m_tok)));
        }
    }

    int dateArg() {
        if (m_tok.kind != Tok::Number || m_tok.text.contains(QLatin1Char('.')) ||
            m_tok.number > 99999) {
            fail(QStringLiteral("expected a whole number in Date(...)"));
        }
        const int v = static_cast<int>(m_tok.number);
        advance();
        return v;
    }

    Operand dateCall() {
        Operand o{Operand::Date, {}, FieldType::DateTime, {}, m_tok.pos};
        advance();
        expect(Tok::LParen, "'('");
        const int y = dateArg();
        expect(Tok::Comma, "','");
        const int m = dateArg();
        expect(Tok::Comma, "','");
        const int d = dateArg();
        const QDate date(y, m, d);
        if (!date.isValid()) {
            throw FormulaError(
                o.pos, QStringLiteral("Date(%1,%2,%3) is not a valid date").arg(y).arg(m).arg(d));
        }
        expect(Tok::RParen, "')'");
        o.value = date.toString(QStringLiteral("yyyy-MM-dd"));
        return o;
    }

    static bool isText(const Operand& o) {
        return o.kind == Operand::Text ||
               (o.kind == Operand::Field &&
                (o.fieldType == FieldType::Text || o.fieldType == FieldType::Memo));
    }

    // SQL for one side; a date-and-time field set against a Date(...) gives
    // its date part ("YYYY-MM-DD" of the stored "YYYY-MM-DD HH:MM:SS").
    QString sqlOf(const Operand& o, const Operand& other) {
        if (o.kind == Operand::Field) {
            if (o.fieldType == FieldType::DateTime && other.kind == Operand::Date) {
                return QStringLiteral("substr(") + o.fieldName + QStringLiteral(", 1, 10)");
            }
            return o.fieldName;
        }
        m_params << o.value;
        return QStringLiteral("?");
    }

    QString comparison() {
        const Operand left = operand();
        if (keyword("LIKE")) {
            advance();
            if (m_tok.kind != Tok::Text) {
                fail(QStringLiteral("expected a quoted pattern after LIKE"));
            }
            const QString pattern = likePattern(m_tok.text);
            advance();
            Operand dummy{Operand::Text, {}, FieldType::Text, {}, 0};
            QString lhs = sqlOf(left, dummy);
            m_params << pattern;
            return QStringLiteral("(") + lhs + QStringLiteral(" LIKE ? ESCAPE '\\')");
        }
        if (m_tok.kind != Tok::Op) {
            fail(QStringLiteral("expected a comparison but found %1").arg(describe(m_tok)));
        }
        const QString op = m_tok.text;
        advance();
        const Operand right = operand();
        if (left.kind != Operand::Field && right.kind != Operand::Field) {
            throw FormulaError(left.pos, QStringLiteral("a comparison needs a field on one side"));
        }
        const QString l = sqlOf(left, right);
        const QString r = sqlOf(right, left);
        const QString collate = isText(left) && isText(right) ? db::noCase() : QString();
        return QStringLiteral("(") + l + QLatin1Char(' ') +
               (op == QLatin1String("<>") ? QStringLiteral("<>") : op) + QLatin1Char(' ') + r +
               collate + QStringLiteral(")");
    }

    // '*' any run, '?' one character; SQL's own wildcards and the escape
    // character stand for themselves.
    static QString likePattern(const QString& p) {
        QString out;
        out.reserve(p.size() + 4);
        for (const QChar c : p) {
            if (c == QLatin1Char('*')) {
                out += QLatin1Char('%');
            } else if (c == QLatin1Char('?')) {
                out += QLatin1Char('_');
            } else if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\')) {
                out += QLatin1Char('\\');
                out += c;
            } else {
                out += c;
            }
        }
        return out;
    }

    Lexer m_lex;
    Token m_tok;
    QVariantList m_params;
    int m_depth = 0;
};

}  // namespace

SqlFilter parseSelectionFormula(const QString& formula) {
    if (formula.size() > kMaxFormulaLength) {
        throw FormulaError(
            kMaxFormulaLength + 1,
            QStringLiteral("formula longer than %1 characters").arg(kMaxFormulaLength));
    }
    if (formula.trimmed().isEmpty()) {
        return {};
    }
    return Parser(formula).run();
}

QString parseSortField(const QString& sortField) {
    const QString s = sortField.trimmed();
    QString direction = QStringLiteral("ASC");
    qsizetype i = 0;
    if (s.startsWith(QLatin1Char('+'))) {
        i = 1;
    } else if (s.startsWith(QLatin1Char('-'))) {
        direction = QStringLiteral("DESC");
        i = 1;
    }
    const QString ref = s.mid(i).trimmed();
    if (!ref.startsWith(QLatin1Char('{')) || !ref.endsWith(QLatin1Char('}'))) {
        throw FormulaError(
            1, QStringLiteral("sort field %1 is not of the form +{tblLog.Field}").arg(sortField));
    }
    const QString inner = ref.mid(1, ref.size() - 2).trimmed();
    const qsizetype dot = inner.indexOf(QLatin1Char('.'));
    if (dot < 0 ||
        inner.left(dot).trimmed().compare(QLatin1String("tblLog"), Qt::CaseInsensitive) != 0) {
        throw FormulaError(1,
                           QStringLiteral("sort field %1 is not a field of tblLog").arg(sortField));
    }
    const auto def = logField(inner.mid(dot + 1).trimmed());
    if (!def) {
        throw FormulaError(1, QStringLiteral("tblLog has no field %1").arg(inner.mid(dot + 1)));
    }
    const bool text = def->type == FieldType::Text || def->type == FieldType::Memo;
    return def->name + (text ? db::noCase() : QString()) + QLatin1Char(' ') + direction;
}

QString canonicalLogField(const QString& name) {
    const auto def = logField(name);
    return def ? def->name : QString();
}

}  // namespace vts::report
