#pragma once

#include "ReportDocument.h"
#include "ReportPages.h"

#include <QDialog>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace vts::report {

// The report window: shows one page of a report at a time, drawn when it is
// turned to, so opening a report of any size is quick. First, Previous, Next
// and Last turn the pages; a page number typed into the box goes straight
// to that page (ReportPages finds where it starts).
class ReportPreview final : public QDialog {
    Q_OBJECT
public:
    ReportPreview(std::shared_ptr<ReportDocument> document, const QString& title, const QSize& size,
                  QWidget* parent = nullptr);

    int currentPage() const { return m_page; }  // 1-based
    bool hasNextPage() const;
    // Shows `page`, or the last page when the report is shorter.
    void showPage(int page);
    void nextPage() { showPage(m_page + 1); }
    void previousPage() { showPage(m_page - 1); }
    void lastPage();
    QPushButton* lastButton() const { return m_last; }
    QSpinBox* pageBox() const { return m_pageBox; }
    // The page as drawn, for display and tests.
    QImage pageImage() const { return m_image; }

private:
    void updateButtons();

    std::shared_ptr<ReportDocument> m_document;
    ReportPages m_pages;
    int m_page = 0;
    QImage m_image;
    QScrollArea* m_scroll;
    QLabel* m_pageLabel;
    QLabel* m_view;
    QPushButton* m_first;
    QPushButton* m_previous;
    QPushButton* m_next;
    QPushButton* m_last;
    QSpinBox* m_pageBox;
};

}  // namespace vts::report
