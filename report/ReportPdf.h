#pragma once

#include "ReportCanvas.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>

#include <vector>

class QIODevice;

// A PDF file written page by page as the report is drawn: each page's
// content is compressed and written out when the page ends, so memory does
// not grow with the length of the report (only one offset per object is
// kept). The faces are the PDF standard fonts (Helvetica for titles,
// Courier for the body), which every reader has, in the Windows-1252
// encoding; a character outside it is written as "?".
namespace vts::report {

class PdfFile final {
public:
    PdfFile(QIODevice& out, const QSizeF& pageSize, const QString& title);
    ~PdfFile();
    PdfFile(const PdfFile&) = delete;
    PdfFile& operator=(const PdfFile&) = delete;

    // The canvas of a new page, valid until endPage().
    PageCanvas& beginPage();
    void endPage();
    // Writes the page tree, catalogue, information and cross-reference
    // table. False when the device failed at any point.
    bool finish();

private:
    class Canvas;
    int newObject();
    void beginObject(int number);
    void put(const QByteArray& bytes);

    QIODevice& m_out;
    QSizeF m_size;
    QString m_title;
    std::vector<qint64> m_offsets;  // by object number - 1
    std::vector<int> m_pages;       // page object numbers
    qint64 m_pos = 0;
    bool m_failed = false;
    Canvas* m_canvas = nullptr;
};

// Windows-1252 bytes of a text; characters it has no byte for become "?".
QByteArray toWindows1252(const QString& text);

}  // namespace vts::report
