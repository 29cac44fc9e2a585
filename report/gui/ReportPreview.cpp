#include "ReportPreview.h"

#include "FormScale.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vts::report {

namespace {
constexpr double kScreenDpi = 96.0;
}

ReportPreview::ReportPreview(std::shared_ptr<ReportDocument> document, const QString& title,
                             const QSize& size, QWidget* parent)
    : QDialog(parent), m_document(std::move(document)) {
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    m_first = new QPushButton(tr("First"), this);
    m_previous = new QPushButton(tr("Previous"), this);
    m_next = new QPushButton(tr("Next"), this);
    auto* close = new QPushButton(tr("Close"), this);
    m_pageLabel = new QLabel(this);
    bar->addWidget(m_first);
    bar->addWidget(m_previous);
    bar->addWidget(m_next);
    bar->addWidget(m_pageLabel, 1);
    bar->addWidget(close);
    layout->addLayout(bar);
    m_scroll = new QScrollArea(this);
    m_view = new QLabel(m_scroll);
    m_scroll->setWidget(m_view);
    m_scroll->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_scroll, 1);
    connect(m_first, &QPushButton::clicked, this, [this] { showPage(1); });
    connect(m_previous, &QPushButton::clicked, this, [this] { previousPage(); });
    connect(m_next, &QPushButton::clicked, this, [this] { nextPage(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    if (size.width() > 0 && size.height() > 0) {
        resize(size);
    }
    m_starts.push_back(PageStart{});
    showPage(1);
    vts::form::widenButtons(this);
}

bool ReportPreview::hasNextPage() const { return m_page < static_cast<int>(m_starts.size()); }

void ReportPreview::showPage(int page) {
    if (page < 1 || page > static_cast<int>(m_starts.size())) {
        return;
    }
    const QSizeF points = m_document->pageSize();
    const double scale = kScreenDpi / 72.0;
    QImage image(qRound(points.width() * scale), qRound(points.height() * scale),
                 QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(kScreenDpi / 0.0254));
    image.setDotsPerMeterY(qRound(kScreenDpi / 0.0254));
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
    bool more = false;
    PageStart next;
    try {
        if (const auto n = m_document->renderPage(p, page, m_starts[page - 1])) {
            more = true;
            next = *n;
        }
    } catch (const std::exception& e) {
        p.resetTransform();
        p.drawText(20, 40, QString::fromStdString(e.what()));
    }
    p.end();
    if (more && page == static_cast<int>(m_starts.size())) {
        m_starts.push_back(next);
    }
    m_page = page;
    m_image = image;
    m_view->setPixmap(QPixmap::fromImage(image));
    m_view->resize(image.size());
    updateButtons();
}

void ReportPreview::updateButtons() {
    std::optional<int> total;
    try {
        total = m_document->pageCount();
    } catch (const std::exception&) {
        // The page itself shows the error.
    }
    m_pageLabel->setText(total ? tr("Page %1 of %2").arg(m_page).arg(*total)
                               : tr("Page %1").arg(m_page));
    m_first->setEnabled(m_page > 1);
    m_previous->setEnabled(m_page > 1);
    m_next->setEnabled(hasNextPage());
}

}  // namespace vts::report
