#pragma once

#include <QString>
#include <QVariantList>

#include <stdexcept>

// The report engine's selection formula turned into an SQL condition over
// tblLog with bound parameters. The language: {tblLog.Field} references,
// Date(y,m,d), numbers, quoted texts ('' stands for a quote), the comparisons
// = < > <= >= <>, LIKE with * (any run) and ? (one character), AND, OR, NOT
// and parentheses. Comparing a date-and-time field with a Date(...) compares
// the field's date, so "<= Date(1998,7,31)" takes the whole of that day.
// No text of the formula ever reaches the SQL other than as a parameter.
namespace vts::report {

class FormulaError : public std::runtime_error {
public:
    FormulaError(int position, const QString& message);
    int position() const { return m_position; }  // 1-based character position
    QString message() const { return m_message; }

private:
    int m_position;
    QString m_message;
};

struct SqlFilter {
    QString where;  // empty: every row
    QVariantList params;
};

inline constexpr int kMaxFormulaLength = 8192;

// Throws FormulaError for a formula it cannot parse or an unknown field.
SqlFilter parseSelectionFormula(const QString& formula);

// A sort field of the form "+{tblLog.Field}" or "-{tblLog.Field}" as an
// ORDER BY term ("Sender COLLATE VTS_NOCASE ASC"); throws FormulaError.
QString parseSortField(const QString& sortField);

// The canonical spelling of a tblLog field name given in any case, or empty.
QString canonicalLogField(const QString& name);

}  // namespace vts::report
