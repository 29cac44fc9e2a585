#include "ReportPreview.h"

#include "FormScale.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace vts::report {

namespace {
constexpr double kScreenDpi = 96.0;
}

ReportPreview::ReportPreview(std::shared_ptr<ReportDocument> document, const QString& title,
                             const QSize& size, QWidget* parent)
    : QDialog(parent), m_document(std::move(document)), m_pages(*m_document) {
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    m_first = new QPushButton(tr("First"), this);
    m_previous = new QPushButton(tr("Previous"), this);
    m_next = new QPushButton(tr("Next"), this);
    m_last = new QPushButton(tr("Last"), this);
    m_last->setObjectName(QStringLiteral("Last"));
    m_pageBox = new QSpinBox(this);
    m_pageBox->setObjectName(QStringLiteral("GoToPage"));
    m_pageBox->setRange(1, 999999);
    m_pageBox->setToolTip(tr("Page to go to"));
    m_pageBox->setKeyboardTracking(false);
    auto* close = new QPushButton(tr("Close"), this);
    m_pageLabel = new QLabel(this);
    bar->addWidget(m_first);
    bar->addWidget(m_previous);
    bar->addWidget(m_next);
    bar->addWidget(m_last);
    bar->addWidget(m_pageBox);
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
    connect(m_last, &QPushButton::clicked, this, [this] { lastPage(); });
    connect(m_pageBox, &QSpinBox::valueChanged, this, [this](int page) {
        if (page != m_page) showPage(page);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    if (size.width() > 0 && size.height() > 0) {
        resize(size);
    }
    showPage(1);
    vts::form::widenButtons(this);
}

bool ReportPreview::hasNextPage() const { return m_pages.hasPageAfter(m_page); }

void ReportPreview::lastPage() { showPage(std::numeric_limits<int>::max()); }

void ReportPreview::showPage(int wanted) {
    const int page = m_pages.reach(wanted);
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
    m_pages.draw(page, [&](int n, const PageStart& start) -> std::optional<PageStart> {
        try {
            return m_document->renderPage(p, n, start);
        } catch (const std::exception& e) {
            p.resetTransform();
            p.drawText(20, 40, QString::fromStdString(e.what()));
            return std::nullopt;
        }
    });
    p.end();
    m_page = page;
    m_image = image;
    m_view->setPixmap(QPixmap::fromImage(image));
    m_view->resize(image.size());
    updateButtons();
}

void ReportPreview::updateButtons() {
    const std::optional<int> total = m_pages.total();
    m_pageLabel->setText(total ? tr("Page %1 of %2").arg(m_page).arg(*total)
                               : tr("Page %1").arg(m_page));
    m_first->setEnabled(m_page > 1);
    m_previous->setEnabled(m_page > 1);
    m_next->setEnabled(hasNextPage());
    m_last->setEnabled(hasNextPage());
    const QSignalBlocker quiet(m_pageBox);
    m_pageBox->setValue(m_page);
}

}  // namespace vts::report
