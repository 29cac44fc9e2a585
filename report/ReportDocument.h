#pragma once

#include "ReportCanvas.h"
#include "ReportLayout.h"
#include "SelectionFormula.h"

#include <QDateTime>
#include <QSizeF>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class QPainter;
class QPagedPaintDevice;

namespace vts::db {
class Database;
}

// One report ready to be drawn: a layout, the rows the selection formula
// picks from tblLog in sort order, and the two title lines. Pages are drawn
// one at a time with rows streamed from the store, so neither time to first
// page nor memory depends on how many rows the log holds.
namespace vts::report {

// Where a page begins: the row (in report order), the line within the
// lines that row prints, and that row's place in the sort order (its sort
// value and ID), so a page is found again without reading the rows before
// it. keyId < 0: no place known (the first page, or a summary).
struct PageStart {
    qint64 row = 0;
    int line = 0;
    QVariant key;
    qint64 keyId = -1;
    bool operator==(const PageStart& o) const { return row == o.row && line == o.line; }
};

struct ReportTitles {
    QString reportTitle;
    QString filterTitle;
};

class ReportDocument {
public:
    ReportDocument(std::unique_ptr<db::Database> database, ReportLayout layout, SqlFilter filter,
                   QString orderBy, ReportTitles titles);
    ~ReportDocument();

    const ReportLayout& layout() const { return m_layout; }
    const ReportTitles& titles() const { return m_titles; }
    // Page size in points (1/72 inch): US Letter, turned for landscape.
    QSizeF pageSize() const;

    // The time printed in every page's footer; the document's creation
    // time unless set.
    QDateTime printedAt() const { return m_printedAt; }
    void setPrintedAt(const QDateTime& t) { m_printedAt = t; }

    // The number of pages, where it is known without drawing them all (not
    // for a report with each message's whole text). Counted once.
    std::optional<int> pageCount() const;

    // Draws the page that starts at `start` with the painter's coordinates in
    // points. Returns where the next page starts, or nullopt after the last.
    // Turning to the page after the one drawn last continues the rows where
    // they stopped; any other page is found by its start's place in the sort
    // order. Either way no earlier row is read again.
    std::optional<PageStart> renderPage(QPainter& painter, int pageNumber, PageStart start) const;
    std::optional<PageStart> renderPage(PageCanvas& canvas, int pageNumber, PageStart start) const;

    // Draws every page on `device`, calling `progress` after each one; a
    // false return stops early. Returns the number of pages drawn.
    int renderAll(QPagedPaintDevice& device, const std::function<bool(int)>& progress = {}) const;

    // Writes the same rows as comma-separated values with a heading line.
    void writeCsv(QIODevice& out) const;

    // Writes a PDF or, for a name ending in ".csv", a CSV file. The file
    // is written under a temporary name and renamed when complete.
    void writeFile(const QString& path, const std::function<bool(int)>& progress = {}) const;

    // Lines of body text on one page.
    int linesPerPage() const;

    class LineSource;

private:
    friend class LineSource;
    // Draws one page from the source; true while lines remain.
    bool drawPage(PageCanvas& canvas, int pageNumber, LineSource& source) const;
    void writePdf(QIODevice& out, const std::function<bool(int)>& progress) const;
    // What the rows are read from: tblLog with the field Cause (from
    // tblCause, NULL where none is kept), under the name tblLog.
    QString rowSource() const;
    std::unique_ptr<db::Database> m_db;
    ReportLayout m_layout;
    SqlFilter m_filter;
    QString m_orderBy;
    ReportTitles m_titles;
    QDateTime m_printedAt;
    mutable std::optional<std::optional<int>> m_pageCount;
    // The rows of the page drawn last, left open for the next page.
    mutable std::unique_ptr<LineSource> m_cursor;
};

class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// How a stored value of a tblLog field is shown ("Sent" for Status 1, dates
// as "MM/DD/YYYY HH:NN:SS").
QString displayValue(const QString& field, const QVariant& value);

}  // namespace vts::report
