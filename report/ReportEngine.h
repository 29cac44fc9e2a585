#pragma once

#include "ReportDocument.h"

#include <QSize>
#include <QString>

#include <memory>

// The report engine the Reports page drives, in place of an outside report
// control: it keeps its settings from one run to the next (report file,
// selection formula, window title and size, data file, sort field,
// destination) and run() draws the report from them.
namespace vts {
class EventLoop;
}

namespace vts::report {

// What a run hands to the program around it: a preview window, a file name
// asked from the operator, a printer chosen beforehand.
class ReportHost {
public:
    virtual ~ReportHost() = default;
    virtual void showPreview(std::shared_ptr<ReportDocument> document, const QString& title,
                             const QSize& size) = 0;
    // Empty when the operator cancels.
    virtual QString askSaveFileName() = 0;
    virtual void print(ReportDocument& document) = 0;
};

class ReportEngine {
public:
    enum Destination { ToWindow = 0, ToPrinter = 1, ToFile = 2 };

    explicit ReportEngine(QString workingDirectory = {});

    void setReportFileName(const QString& name) { m_reportFile = name; }
    QString reportFileName() const { return m_reportFile; }
    void setSelectionFormula(const QString& formula) { m_formula = formula; }
    QString selectionFormula() const { return m_formula; }
    void setWindowTitle(const QString& title) { m_windowTitle = title; }
    QString windowTitle() const { return m_windowTitle; }
    void setWindowSize(int width, int height) { m_windowSize = QSize(width, height); }
    QSize windowSize() const { return m_windowSize; }
    // Only index 0 exists: one data file, one sort field.
    void setDataFile(int index, const QString& file);
    QString dataFile(int index) const;
    void setSortField(int index, const QString& field);
    QString sortField(int index) const;
    void setDestination(Destination d) { m_destination = d; }
    Destination destination() const { return m_destination; }
    // The file a ToFile run writes; when empty the host is asked each run.
    void setPrintFileName(const QString& path) { m_printFile = path; }
    QString printFileName() const { return m_printFile; }
    void setHost(ReportHost* host) { m_host = host; }
    // When set, a run to a file yields to it after every page, so the
    // window stays responsive while a long report is written.
    void setEventLoop(EventLoop* loop) { m_loop = loop; }
    bool isRunning() const { return m_running; }
    // The folder given at construction, else the current one.
    QString workingDirectory() const;

    // Builds the document from the current settings without output.
    std::shared_ptr<ReportDocument> prepare() const;
    // Runs the report to the destination. Throws ReportError (or the
    // layout's and formula's errors) with a readable message. A cancelled
    // file name ends the run with no output.
    void run();

private:
    QString m_dir;
    QString m_reportFile;
    QString m_formula;
    QString m_windowTitle;
    QSize m_windowSize;
    QString m_dataFile;
    QString m_sortField;
    Destination m_destination = ToWindow;
    QString m_printFile;
    ReportHost* m_host = nullptr;
    EventLoop* m_loop = nullptr;
    bool m_running = false;
};

// The title row of tblReportInfo: written before each report, read by the
// layouts. The first report adds the row, later ones edit it.
void writeReportInfo(const QString& dir, const ReportTitles& titles);
ReportTitles readReportInfo(db::Database& database);

}  // namespace vts::report
