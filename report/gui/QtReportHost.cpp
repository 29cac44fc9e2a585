#include "QtReportHost.h"

#include "EventLoop.h"
#include "ReportPreview.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace vts::report {

QtReportHost::QtReportHost(QWidget* parent)
    : m_parent(parent), m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

QtReportHost::~QtReportHost() = default;

void QtReportHost::showPreview(std::shared_ptr<ReportDocument> document, const QString& title,
                               const QSize& size) {
    auto* preview = new ReportPreview(std::move(document), title, size, m_parent);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->show();
    m_lastPreview = preview;
}

QString QtReportHost::askSaveFileName() {
    if (m_askFile) {
        return m_askFile();
    }
    return QFileDialog::getSaveFileName(m_parent, QStringLiteral("Save Report"), QString(),
                                        QStringLiteral("PDF files (*.pdf);;CSV files (*.csv)"));
}

void QtReportHost::print(ReportDocument& document) {
    document.renderAll(*m_printer, [this](int) {
        if (m_loop) {
            m_loop->yield();
        }
        return true;
    });
}

bool QtReportHost::choosePrinter() {
    if (m_printDialog) {
        return m_printDialog(*m_printer);
    }
    QPrintDialog dialog(m_printer.get(), m_parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace vts::report
