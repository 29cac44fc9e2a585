#pragma once

#include "ReportEngine.h"
#include "ReportPreview.h"

#include <QPointer>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;

namespace vts {
class EventLoop;
}

namespace vts::report {

// The report engine's surroundings in a program with windows: preview
// windows, the save-file dialog and the printer chosen in the printer dialog.
// The dialogs are replaceable so tests answer them without a person.
class QtReportHost final : public ReportHost {
public:
    explicit QtReportHost(QWidget* parent = nullptr);
    ~QtReportHost() override;

    void showPreview(std::shared_ptr<ReportDocument> document, const QString& title,
                     const QSize& size) override;
    QString askSaveFileName() override;
    void print(ReportDocument& document) override;

    // The printer dialog on the host's printer; false when cancelled.
    bool choosePrinter();

    QPrinter& printer() { return *m_printer; }
    ReportPreview* lastPreview() const { return m_lastPreview.data(); }

    // Printing yields to the loop after every page.
    void setEventLoop(EventLoop* loop) { m_loop = loop; }
    void setSaveFileAsker(std::function<QString()> asker) { m_askFile = std::move(asker); }
    void setPrinterDialog(std::function<bool(QPrinter&)> dialog) {
        m_printDialog = std::move(dialog);
    }

private:
    QWidget* m_parent;
    EventLoop* m_loop = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<ReportPreview> m_lastPreview;
    std::function<QString()> m_askFile;
    std::function<bool(QPrinter&)> m_printDialog;
};

}  // namespace vts::report
