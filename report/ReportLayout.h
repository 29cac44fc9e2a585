#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>
#include <vector>

// A report layout file: which tblLog columns a report prints, under which
// headings and how wide, whether each message's whole text follows its line,
// and for a summary which fields are counted. The text format is described in
// docs/reports.md; parsing is strict and bounded, and a fault names its line.
namespace vts::report {

class LayoutError : public std::runtime_error {
public:
    LayoutError(int line, const QString& message);
    int line() const { return m_line; }
    QString message() const { return m_message; }

private:
    int m_line;
    QString m_message;
};

struct LayoutColumn {
    QString field;  // canonical tblLog field name
    QString heading;
    int width = 10;  // characters
};

struct LayoutCount {
    QString field;
    QString heading;
};

struct ReportLayout {
    enum class Style { Normal, FullText, Summary };
    Style style = Style::Normal;
    bool landscape = false;
    int fontSize = 8;  // points
    bool fullMessage = false;
    bool totals = true;
    std::vector<LayoutColumn> columns;
    std::vector<LayoutCount> counts;

    int totalWidth() const;
};

inline constexpr qint64 kMaxLayoutBytes = qint64{64} * 1024;
inline constexpr int kMaxColumns = 40;
inline constexpr int kMaxCounts = 10;
inline constexpr int kMaxColumnWidth = 255;

ReportLayout parseLayout(const QString& text);
// Reads and parses a layout file; throws LayoutError (line 0 for a file
// that cannot be read or is too large).
ReportLayout loadLayout(const QString& path);

// The three layouts a new working directory gets, by file name.
QString defaultLayoutText(const QString& fileName);
// Writes svrrpt1.rpt, svrrpt2.rpt and svrrpt3.rpt into `dir`, leaving any
// that already exist alone. Returns the names written; throws
// std::runtime_error when one cannot be written.
QStringList installDefaultLayouts(const QString& dir);

}  // namespace vts::report
