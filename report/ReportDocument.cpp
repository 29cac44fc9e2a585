#include "ReportDocument.h"

#include "Conversions.h"
#include "Database.h"
#include "LogStore.h"
#include "ReportPdf.h"

#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QSaveFile>
#include <QTextStream>

#include <sqlite3.h>

#include <deque>

namespace vts::report {

namespace {

constexpr double kMargin = 36.0;  // half an inch
constexpr double kCharAdvance = kMonoAdvance;
constexpr double kLineFactor = 1.3;
constexpr int kMessageIndent = 4;
constexpr double kFooterSize = 8.0;
const QChar kEllipsis(0x2026);

db::FieldType fieldType(const QString& field) {
    static const db::TableDef table = logstore::logTable();
    for (const auto& f : table.fields) {
        if (f.name == field) {
            return f.type;
        }
    }
    return db::FieldType::Text;
}

bool isTextField(const QString& field) {
    const auto t = fieldType(field);
    return t == db::FieldType::Text || t == db::FieldType::Memo;
}

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql, const QVariantList& params) {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt,
                               nullptr) != SQLITE_OK) {
            throw ReportError(QStringLiteral("The log could not be read: %1")
                                  .arg(QString::fromUtf8(sqlite3_errmsg(db))));
        }
        for (int i = 0; i < params.size(); ++i) {
            bind(i + 1, params[i]);
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const QVariant& v) {
        switch (v.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::UInt:
            case QMetaType::ULongLong:
                sqlite3_bind_int64(m_stmt, index, v.toLongLong());
                break;
            case QMetaType::Double:
                sqlite3_bind_double(m_stmt, index, v.toDouble());
                break;
            default: {
                const QByteArray t = v.toString().toUtf8();
                sqlite3_bind_text(m_stmt, index, t.constData(), static_cast<int>(t.size()),
                                  SQLITE_TRANSIENT);
            }
        }
    }

    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        throw ReportError(QStringLiteral("The log could not be read: %1")
                              .arg(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_stmt)))));
    }

    QVariant value(int col) const {
        switch (sqlite3_column_type(m_stmt, col)) {
            case SQLITE_NULL:
                return {};
            case SQLITE_INTEGER:
                return static_cast<qint64>(sqlite3_column_int64(m_stmt, col));
            case SQLITE_FLOAT:
                return sqlite3_column_double(m_stmt, col);
            default: {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
                return QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, col));
            }
        }
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// The value on one line in exactly `width` characters: padded, or cut with
// an ellipsis as its last character so a reader sees that text is missing.
QString fit(const QString& s, int width) {
    QString one = s;
    for (QChar& c : one) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t')) {
            c = QLatin1Char(' ');
        }
    }
    if (one.size() > width) {
        return width > 1 ? one.left(width - 1) + kEllipsis : one.left(width);
    }
    return one.leftJustified(width, QLatin1Char(' '));
}

// Breaks a message into lines of at most `width` characters, at blanks where
// it can, keeping the message's own line breaks.
QStringList wrap(const QString& text, int width) {
    QStringList out;
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& para : normalized.split(QLatin1Char('\n'))) {
        QString rest = para;
        rest.replace(QLatin1Char('\t'), QLatin1Char(' '));
        if (rest.isEmpty()) {
            out << QString();
            continue;
        }
        while (rest.size() > width) {
            qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), width);
            if (cut <= 0) {
                cut = width;
            }
            out << rest.left(cut).trimmed();
            rest = rest.mid(cut).trimmed();
        }
        if (!rest.isEmpty()) {
            out << rest;
        }
    }
    return out;
}

}  // namespace

QString displayValue(const QString& field, const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    if (field == QLatin1String("Status")) {
        switch (value.toLongLong()) {
            case 0:
                return QStringLiteral("Pending");
            case 1:
                return QStringLiteral("Sent");
            case 2:
                return QStringLiteral("Failed");
            case 3:
                return QStringLiteral("Cancelled");
            default:
                return value.toString();
        }
    }
    switch (fieldType(field)) {
        case db::FieldType::DateTime: {
            // The stored form "YYYY-MM-DD HH:MM:SS" is rearranged directly: this
            // runs once per row of a report.
            const QString t = value.toString();
            if (t.size() == 19 && t[4] == QLatin1Char('-') && t[7] == QLatin1Char('-') &&
                t[10] == QLatin1Char(' ')) {
                return t.mid(5, 2) + QLatin1Char('/') + t.mid(8, 2) + QLatin1Char('/') + t.left(4) +
                       t.mid(10);
            }
            const auto dt = conv::fromStoreText(t);
            return dt ? conv::formatDateTime(*dt) : t;
        }
        case db::FieldType::YesNo:
            return value.toLongLong() != 0 ? QStringLiteral("Yes") : QStringLiteral("No");
        default:
            return value.toString();
    }
}

// One body line of a report page.
struct Line {
    enum Kind { Row, Text, Heading, Blank } kind = Text;
    QString text;
};

// Produces the body lines of a report from a position on, fetching rows from
// the store only as lines are taken.
class ReportDocument::LineSource {
public:
    // With `chunk` > 0 the rows are read that many at a time, each chunk
    // by its own query from the place the last one ended: the store then
    // sorts only what one chunk needs, so a page far into the report costs
    // what the first one does. With 0 one query reads every row (a whole
    // report written at once).
    LineSource(const ReportDocument& doc, const PageStart& start, qint64 chunk = 0)
        : m_doc(doc), m_row(start.row), m_chunk(chunk) {
        if (doc.m_layout.style == ReportLayout::Style::Summary) {
            buildSummary();
            m_nextRow = 1;
        } else {
            QVariantList params = doc.m_filter.params;
            QString sql = rowSql(doc, start, params, chunk);
            m_stmt = std::make_unique<Statement>(doc.m_db->handle(), sql, params);
            m_nextRow = start.row;
        }
        if (peek()) {
            for (int i = 0; i < start.line && !m_pending.empty(); ++i) {
                take();
            }
        }
    }

    // The sort term split into its column (with collation) and direction.
    struct Order {
        QString column;  // bare field name; empty: by ID only
        QString term;    // the field with its collation
        bool descending = false;
    };
    static Order order(const ReportDocument& doc) {
        Order o;
        QString t = doc.m_orderBy.trimmed();
        if (t.isEmpty()) {
            return o;
        }
        if (t.endsWith(QLatin1String(" DESC"), Qt::CaseInsensitive)) {
            o.descending = true;
            t.chop(5);
        } else if (t.endsWith(QLatin1String(" ASC"), Qt::CaseInsensitive)) {
            t.chop(4);
        }
        o.term = t.trimmed();
        o.column = o.term.section(QLatin1Char(' '), 0, 0);
        return o;
    }

    // The rows of the report from `start` on: the layout's columns, the
    // message, the sort value and the ID. With a known place in the sort
    // order the rows before it are left out by the condition, not skipped.
    static QString rowSql(const ReportDocument& doc, const PageStart& start, QVariantList& params,
                          qint64 limit = 0) {
        const Order o = order(doc);
        QStringList cols;
        for (const auto& c : doc.m_layout.columns) {
            cols << c.field;
        }
        cols << QStringLiteral("Message")
             << (o.column.isEmpty() ? QStringLiteral("NULL") : o.column) << QStringLiteral("ID");
        QString sql = QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) +
                      QStringLiteral(" FROM ") + doc.rowSource();
        QStringList where;
        if (!doc.m_filter.where.isEmpty()) {
            where << QStringLiteral("(") + doc.m_filter.where + QStringLiteral(")");
        }
        const bool keyed = start.keyId >= 0;
        if (keyed) {
            if (o.column.isEmpty()) {
                where << QStringLiteral("ID >= ?");
                params << start.keyId;
            } else if (start.key.isNull() || !start.key.isValid()) {
                // Nulls sort first going up and last going down.
                where << (o.descending
                              ? QStringLiteral("(%1 IS NULL AND ID >= ?)").arg(o.column)
                              : QStringLiteral("((%1 IS NULL AND ID >= ?) OR %1 IS NOT NULL)")
                                    .arg(o.column));
                params << start.keyId;
            } else {
                where << (o.descending
                              ? QStringLiteral("(%1 < ? OR (%1 = ? AND ID >= ?) OR %2 IS NULL)")
                                    .arg(o.term, o.column)
                              : QStringLiteral("(%1 > ? OR (%1 = ? AND ID >= ?))").arg(o.term));
                params << start.key << start.key << start.keyId;
            }
        }
        if (!where.isEmpty()) {
            sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
        }
        sql += QStringLiteral(" ORDER BY ");
        if (!doc.m_orderBy.isEmpty()) {
            sql += doc.m_orderBy + QStringLiteral(", ");
        }
        sql += QStringLiteral("ID");
        if (limit > 0 || (!keyed && start.row > 0)) {
            sql += QStringLiteral(" LIMIT ?");
            params << (limit > 0 ? limit : qint64{-1});
        }
        if (!keyed && start.row > 0) {
            sql += QStringLiteral(" OFFSET ?");
            params << start.row;
        }
        return sql;
    }

    // The next row from the store, starting the next chunk's query when one
    // chunk is used up.
    bool fetch() {
        if (m_stmt->step()) {
            ++m_chunkRows;
            return true;
        }
        if (m_chunk <= 0 || m_chunkRows < m_chunk) {
            return false;
        }
        // After the last row read: same sort value, a higher ID, or later.
        const PageStart after{m_nextRow, 0, m_rowKey, m_rowId + 1};
        QVariantList params = m_doc.m_filter.params;
        const QString sql = rowSql(m_doc, after, params, m_chunk);
        m_stmt = std::make_unique<Statement>(m_doc.m_db->handle(), sql, params);
        m_chunkRows = 0;
        if (m_stmt->step()) {
            ++m_chunkRows;
            return true;
        }
        return false;
    }

    // Lines of the whole report, for a summary (built at once).
    qsizetype pendingLines() const { return m_pending.size(); }

    // True while a line is left; loads the next row's lines when needed.
    bool peek() {
        if (!m_pending.empty()) {
            return true;
        }
        if (m_done) {
            return false;
        }
        if (!m_stmt) {
            m_done = true;
            return false;
        }
        if (!fetch()) {
            m_done = true;
            m_row = m_nextRow;
            m_pending.push_back({Line::Blank, {}});
            m_pending.push_back({Line::Text, m_nextRow == 1
                                                 ? QStringLiteral("1 message")
                                                 : QStringLiteral("%1 messages").arg(m_nextRow)});
            m_taken = 0;
            m_stmt.reset();
            return true;
        }
        m_row = m_nextRow++;
        m_taken = 0;
        const int n = static_cast<int>(m_doc.m_layout.columns.size());
        m_rowKey = m_stmt->value(n + 1);
        m_rowId = m_stmt->value(n + 2).toLongLong();
        rowLines();
        return true;
    }

    Line take() {
        Line l = std::move(m_pending.front());
        m_pending.pop_front();
        ++m_taken;
        return l;
    }

    PageStart position() {
        if (!peek()) {
            return {m_nextRow + 1, 0, {}, -1};
        }
        if (!m_stmt) {
            return {m_row, m_taken, {}, -1};  // a summary, or the closing lines
        }
        return {m_row, m_taken, m_rowKey, m_rowId};
    }

    const std::vector<QStringList>& summaryRows() const { return m_summaryRows; }

private:
    void rowLines() {
        const auto& cols = m_doc.m_layout.columns;
        QString line;
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i > 0) {
                line += QLatin1Char(' ');
            }
            line +=
                fit(displayValue(cols[i].field, m_stmt->value(static_cast<int>(i))), cols[i].width);
        }
        m_pending.push_back({Line::Row, line});
        if (m_doc.m_layout.fullMessage) {
            const QString indent(kMessageIndent, QLatin1Char(' '));
            const int width = std::max(10, m_doc.m_layout.totalWidth() - kMessageIndent);
            const QString message = m_stmt->value(static_cast<int>(cols.size())).toString();
            for (const QString& l : wrap(message, width)) {
                m_pending.push_back({Line::Text, indent + l});
            }
            m_pending.push_back({Line::Blank, {}});
        }
    }

    void buildSummary() {
        const auto& f = m_doc.m_filter;
        const QString where = f.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + f.where;
        sqlite3* h = m_doc.m_db->handle();
        for (const auto& count : m_doc.m_layout.counts) {
            const QString group =
                count.field + (isTextField(count.field) ? db::noCase() : QString());
            Statement st(
                h,
                QStringLiteral("SELECT MIN(%1), COUNT(*) FROM %4%2 GROUP BY %3 ORDER BY %3")
                    .arg(count.field, where, group, m_doc.rowSource()),
                f.params);
            m_pending.push_back({Line::Heading, count.heading});
            qint64 total = 0;
            while (st.step()) {
                QString value = displayValue(count.field, st.value(0));
                if (value.isEmpty()) {
                    value = QStringLiteral("(none)");
                }
                const qint64 n = st.value(1).toLongLong();
                total += n;
                m_pending.push_back({Line::Text, QStringLiteral("  ") + fit(value, 40) +
                                                     QStringLiteral(" ") +
                                                     QString::number(n).rightJustified(10)});
                m_summaryRows.push_back({count.heading, value, QString::number(n)});
            }
            if (m_doc.m_layout.totals) {
                m_pending.push_back({Line::Text, QStringLiteral("  ") +
                                                     fit(QStringLiteral("Total"), 40) +
                                                     QStringLiteral(" ") +
                                                     QString::number(total).rightJustified(10)});
                m_summaryRows.push_back(
                    {count.heading, QStringLiteral("Total"), QString::number(total)});
            }
            m_pending.push_back({Line::Blank, {}});
        }
        m_row = 0;
        m_taken = 0;
        m_done = true;
    }

    const ReportDocument& m_doc;
    std::unique_ptr<Statement> m_stmt;
    std::deque<Line> m_pending;
    std::vector<QStringList> m_summaryRows;
    qint64 m_row = 0;      // the row whose lines are pending
    qint64 m_nextRow = 0;  // the row the statement yields next
    QVariant m_rowKey;     // sort value and ID of m_row
    qint64 m_rowId = -1;
    qint64 m_chunk = 0;      // rows per query; 0: one query
    qint64 m_chunkRows = 0;  // rows read by the current query
    int m_taken = 0;         // lines of m_row already taken
    bool m_done = false;
};

QString ReportDocument::rowSource() const { return logstore::rowsWithCause(*m_db); }

ReportDocument::ReportDocument(std::unique_ptr<db::Database> database, ReportLayout layout,
                               SqlFilter filter, QString orderBy, ReportTitles titles)
    : m_db(std::move(database)),
      m_layout(std::move(layout)),
      m_filter(std::move(filter)),
      m_orderBy(std::move(orderBy)),
      m_titles(std::move(titles)),
      m_printedAt(QDateTime::currentDateTime()) {}

ReportDocument::~ReportDocument() = default;

QSizeF ReportDocument::pageSize() const {
    return m_layout.landscape ? QSizeF(792, 612) : QSizeF(612, 792);
}

namespace {

struct PageMetrics {
    double fontSize;
    double lineHeight;
    double bodyTop;
    double bodyBottom;
    int lines;
};

double bodyFontSize(const ReportLayout& layout, const QSizeF& page) {
    const int chars =
        layout.style == ReportLayout::Style::Summary ? 54 : std::max(1, layout.totalWidth());
    const double usable = page.width() - 2 * kMargin;
    return std::min<double>(layout.fontSize, usable / (chars * kCharAdvance));
}

PageMetrics metrics(const ReportLayout& layout, const QSizeF& page) {
    PageMetrics m;
    m.fontSize = bodyFontSize(layout, page);
    m.lineHeight = m.fontSize * kLineFactor;
    // Title, filter line, column headings and a rule above the body.
    m.bodyTop = kMargin + 14 * kLineFactor + 10 * kLineFactor + m.lineHeight + 6;
    m.bodyBottom = page.height() - kMargin - 10 * kLineFactor - 4;
    m.lines = std::max(1, static_cast<int>((m.bodyBottom - m.bodyTop) / m.lineHeight));
    return m;
}

QFont makeFont(const QPainter& p, double size, bool bold, bool mono) {
    QFont f(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    f.setStyleHint(mono ? QFont::TypeWriter : QFont::SansSerif);
    // Sizes are in the painter's point coordinates whatever the device's
    // resolution.
    const int dpi = p.device() ? p.device()->logicalDpiY() : 72;
    f.setPointSizeF(size * 72.0 / (dpi > 0 ? dpi : 72));
    f.setBold(bold);
    return f;
}

}  // namespace

void PainterCanvas::setFont(Face face, double size) {
    // A font change is a state change on the device: made only when needed.
    if (face == m_face && size == m_size) {
        return;
    }
    m_face = face;
    m_size = size;
    const bool mono = face == Face::Mono || face == Face::MonoBold;
    const bool bold = face == Face::Title || face == Face::MonoBold;
    m_p.setFont(makeFont(m_p, size, bold, mono));
}

void PainterCanvas::text(double x, double baseline, const QString& text) {
    m_p.drawText(QPointF(x, baseline), text);
}

void PainterCanvas::line(double x1, double y1, double x2, double y2) {
    m_p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

int ReportDocument::linesPerPage() const { return metrics(m_layout, pageSize()).lines; }

std::optional<int> ReportDocument::pageCount() const {
    if (m_pageCount) {
        return *m_pageCount;
    }
    const qint64 perPage = linesPerPage();
    auto pages = [perPage](qint64 lines) {
        return static_cast<int>(std::max<qint64>(1, (lines + perPage - 1) / perPage));
    };
    if (m_layout.style == ReportLayout::Style::Summary) {
        LineSource source(*this, PageStart{});
        m_pageCount = std::optional<int>(pages(source.pendingLines()));
    } else if (m_layout.fullMessage) {
        m_pageCount = std::optional<int>();  // known only once every text is wrapped
    } else {
        // One line per row, then a blank line and the count.
        QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + rowSource();
        if (!m_filter.where.isEmpty()) {
            sql += QStringLiteral(" WHERE ") + m_filter.where;
        }
        Statement st(m_db->handle(), sql, m_filter.params);
        const qint64 rows = st.step() ? st.value(0).toLongLong() : 0;
        m_pageCount = std::optional<int>(pages(rows + 2));
    }
    return *m_pageCount;
}

std::optional<PageStart> ReportDocument::renderPage(QPainter& p, int pageNumber,
                                                    PageStart start) const {
    PainterCanvas canvas(p);
    p.save();
    p.setPen(Qt::black);
    auto next = renderPage(canvas, pageNumber, std::move(start));
    p.restore();
    return next;
}

std::optional<PageStart> ReportDocument::renderPage(PageCanvas& canvas, int pageNumber,
                                                    PageStart start) const {
    if (!m_cursor || !(m_cursor->position() == start)) {
        m_cursor.reset();
        m_cursor = std::make_unique<LineSource>(*this, start, qint64{4} * linesPerPage());
    }
    if (!drawPage(canvas, pageNumber, *m_cursor)) {
        m_cursor.reset();
        return std::nullopt;
    }
    return m_cursor->position();
}

bool ReportDocument::drawPage(PageCanvas& c, int pageNumber, LineSource& source) const {
    const QSizeF page = pageSize();
    const PageMetrics m = metrics(m_layout, page);

    double y = kMargin;
    c.setFont(PageCanvas::Face::Title, 14);
    c.text(kMargin, y + 14, m_titles.reportTitle);
    y += 14 * kLineFactor;
    c.setFont(PageCanvas::Face::Filter, 10);
    c.text(kMargin, y + 10, m_titles.filterTitle);
    y += 10 * kLineFactor;

    if (m_layout.style != ReportLayout::Style::Summary) {
        QString headings;
        for (size_t i = 0; i < m_layout.columns.size(); ++i) {
            if (i > 0) {
                headings += QLatin1Char(' ');
            }
            headings += fit(m_layout.columns[i].heading, m_layout.columns[i].width);
        }
        c.setFont(PageCanvas::Face::MonoBold, m.fontSize);
        c.text(kMargin, y + m.fontSize, headings.trimmed());
    }
    y += m.lineHeight + 3;
    c.line(kMargin, y, page.width() - kMargin, y);

    double lineY = m.bodyTop;
    bool bold = false;
    c.setFont(PageCanvas::Face::Mono, m.fontSize);
    for (int n = 0; n < m.lines && source.peek(); ++n) {
        const Line l = source.take();
        if (l.kind != Line::Blank) {
            if ((l.kind == Line::Heading) != bold) {
                bold = !bold;
                c.setFont(bold ? PageCanvas::Face::MonoBold : PageCanvas::Face::Mono, m.fontSize);
            }
            c.text(kMargin, lineY + m.fontSize, l.kind == Line::Row ? l.text.trimmed() : l.text);
        }
        lineY += m.lineHeight;
    }

    // Footer: when the report was printed, and the page number.
    const double footerY = page.height() - kMargin;
    c.setFont(PageCanvas::Face::Mono, kFooterSize);
    c.text(kMargin, footerY, QStringLiteral("Printed ") + conv::formatDateTime(m_printedAt));
    const std::optional<int> total = pageCount();
    const QString number = total ? QStringLiteral("Page %1 of %2").arg(pageNumber).arg(*total)
                                 : QStringLiteral("Page %1").arg(pageNumber);
    c.text(page.width() - kMargin - number.size() * kCharAdvance * kFooterSize, footerY, number);
    return source.peek();
}

int ReportDocument::renderAll(QPagedPaintDevice& device,
                              const std::function<bool(int)>& progress) const {
    const QSizeF size = pageSize();
    device.setPageLayout(
        QPageLayout(QPageSize(QPageSize::Letter),
                    m_layout.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                    QMarginsF(0, 0, 0, 0)));
    QPainter p;
    if (!p.begin(&device)) {
        throw ReportError(QStringLiteral("The report output could not be started."));
    }
    const QRect target = p.viewport();
    p.setWindow(0, 0, qRound(size.width()), qRound(size.height()));
    p.setViewport(target);
    p.setPen(Qt::black);
    PainterCanvas canvas(p);

    // One source for all pages: every row is read once, in order.
    LineSource source(*this, PageStart{});
    int pages = 0;
    bool more = true;
    while (more) {
        if (pages > 0 && !device.newPage()) {
            throw ReportError(QStringLiteral("The report output failed."));
        }
        ++pages;
        more = drawPage(canvas, pages, source);
        if (progress && !progress(pages)) {
            break;
        }
    }
    p.end();
    return pages;
}

void ReportDocument::writePdf(QIODevice& out, const std::function<bool(int)>& progress) const {
    PdfFile pdf(out, pageSize(), m_titles.reportTitle);
    LineSource source(*this, PageStart{});
    int pages = 0;
    bool more = true;
    while (more) {
        ++pages;
        more = drawPage(pdf.beginPage(), pages, source);
        pdf.endPage();
        if (progress && !progress(pages)) {
            break;
        }
    }
    if (!pdf.finish()) {
        throw ReportError(QStringLiteral("The PDF file could not be written."));
    }
}

void ReportDocument::writeCsv(QIODevice& out) const {
    QTextStream ts(&out);
    ts.setEncoding(QStringConverter::Utf8);
    auto quote = [](const QString& v) {
        if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"')) &&
            !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r'))) {
            return v;
        }
        QString q = v;
        q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + q + QLatin1Char('"');
    };
    auto writeRow = [&](const QStringList& cells) {
        QStringList q;
        for (const auto& c : cells) {
            q << quote(c);
        }
        ts << q.join(QLatin1Char(',')) << "\r\n";
    };
    if (m_layout.style == ReportLayout::Style::Summary) {
        LineSource source(*this, PageStart{});
        writeRow({QStringLiteral("Group"), QStringLiteral("Value"), QStringLiteral("Count")});
        for (const auto& r : source.summaryRows()) {
            writeRow(r);
        }
    } else {
        QStringList headings;
        for (const auto& c : m_layout.columns) {
            headings << c.heading;
        }
        if (m_layout.fullMessage) {
            headings << QStringLiteral("Message Text");
        }
        writeRow(headings);
        // Its own statement: every selected row once, in report order.
        QVariantList params = m_filter.params;
        Statement st(m_db->handle(), LineSource::rowSql(*this, PageStart{}, params), params);
        const int n = static_cast<int>(m_layout.columns.size());
        while (st.step()) {
            QStringList cells;
            for (int i = 0; i < n; ++i) {
                cells << displayValue(m_layout.columns[i].field, st.value(i));
            }
            if (m_layout.fullMessage) {
                cells << st.value(n).toString();
            }
            writeRow(cells);
        }
    }
    ts.flush();
    if (ts.status() != QTextStream::Ok) {
        throw ReportError(QStringLiteral("The CSV file could not be written."));
    }
}

void ReportDocument::writeFile(const QString& path,
                               const std::function<bool(int)>& progress) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw ReportError(
            QStringLiteral("%1 could not be written: %2").arg(path, file.errorString()));
    }
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        writeCsv(file);
    } else {
        writePdf(file, progress);
    }
    if (!file.commit()) {
        throw ReportError(
            QStringLiteral("%1 could not be written: %2").arg(path, file.errorString()));
    }
}

}  // namespace vts::report
