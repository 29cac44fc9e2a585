#pragma once

#include "ReportDocument.h"

#include <QDialog>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;

namespace vts::report {

// The report window: shows one page of a report at a time, drawn when it is
// turned to, so opening a report of any size is quick. Remembers where each
// page seen so far starts (its row's place in the sort order), so turning to
// any page seen costs the same wherever it lies in the report.
class ReportPreview final : public QDialog {
    Q_OBJECT
public:
    ReportPreview(std::shared_ptr<ReportDocument> document, const QString& title, const QSize& size,
                  QWidget* parent = nullptr);

    int currentPage() const { return m_page; }  // 1-based
    bool hasNextPage() const;
    void showPage(int page);
    void nextPage() { showPage(m_page + 1); }
    void previousPage() { showPage(m_page - 1); }
    // The page as drawn, for display and tests.
    QImage pageImage() const { return m_image; }

private:
    void updateButtons();

    std::shared_ptr<ReportDocument> m_document;
    std::vector<PageStart> m_starts;  // m_starts[i]: start of page i+1
    int m_page = 0;
    QImage m_image;
    QScrollArea* m_scroll;
    QLabel* m_pageLabel;
    QLabel* m_view;
    QPushButton* m_first;
    QPushButton* m_previous;
    QPushButton* m_next;
};

}  // namespace vts::report
