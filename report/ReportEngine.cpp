#include "ReportEngine.h"

#include "Database.h"
#include "EventLoop.h"
#include "LogStore.h"
#include "Paths.h"

#include <QDir>

namespace vts::report {

ReportEngine::ReportEngine(QString workingDirectory)
    : m_dir(std::move(workingDirectory)), m_windowTitle(QStringLiteral("Vantrel Report")) {}

void ReportEngine::setDataFile(int index, const QString& file) {
    if (index != 0) {
        throw ReportError(QStringLiteral("Data file %1 does not exist.").arg(index));
    }
    m_dataFile = file;
}

QString ReportEngine::workingDirectory() const {
    return m_dir.isEmpty() ? QDir::currentPath() : m_dir;
}

QString ReportEngine::dataFile(int index) const { return index == 0 ? m_dataFile : QString(); }

void ReportEngine::setSortField(int index, const QString& field) {
    if (index != 0) {
        throw ReportError(QStringLiteral("Sort field %1 does not exist.").arg(index));
    }
    m_sortField = field;
}

QString ReportEngine::sortField(int index) const { return index == 0 ? m_sortField : QString(); }

std::shared_ptr<ReportDocument> ReportEngine::prepare() const {
    if (m_reportFile.isEmpty()) {
        throw ReportError(QStringLiteral("No report file is set."));
    }
    const QString layoutPath = paths::resolve(m_reportFile, workingDirectory());
    if (!QFileInfo(layoutPath).isFile()) {
        throw ReportError(QStringLiteral("The report file %1 is not present.").arg(m_reportFile));
    }
    ReportLayout layout = loadLayout(layoutPath);
    SqlFilter filter = parseSelectionFormula(m_formula);
    const QString orderBy =
        m_sortField.trimmed().isEmpty() ? QString() : parseSortField(m_sortField);

    const QString dataFile = m_dataFile.isEmpty() ? logstore::kFileName : m_dataFile;
    std::unique_ptr<db::Database> database;
    try {
        database = db::Database::open(workingDirectory(), dataFile);
    } catch (const db::DbError& e) {
        throw ReportError(
            QStringLiteral("The log %1 could not be opened: %2").arg(dataFile, e.message()));
    }
    ReportTitles titles = readReportInfo(*database);
    return std::make_shared<ReportDocument>(std::move(database), std::move(layout),
                                            std::move(filter), orderBy, std::move(titles));
}

void ReportEngine::run() {
    // A yield inside a run must not start a second one.
    if (m_running) {
        throw ReportError(QStringLiteral("A report is already being produced."));
    }
    m_running = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_running};
    const auto document = prepare();
    switch (m_destination) {
        case ToWindow:
            if (!m_host) {
                throw ReportError(QStringLiteral("No preview window is available."));
            }
            m_host->showPreview(document, m_windowTitle, m_windowSize);
            return;
        case ToFile: {
            QString path = m_printFile;
            if (path.isEmpty()) {
                if (!m_host) {
                    throw ReportError(QStringLiteral("No output file is given."));
                }
                path = m_host->askSaveFileName();
                if (path.isEmpty()) {
                    return;
                }
            }
            document->writeFile(QDir(workingDirectory()).absoluteFilePath(path), [this](int) {
                if (m_loop) {
                    m_loop->yield();
                }
                return true;
            });
            return;
        }
        case ToPrinter:
            if (!m_host) {
                throw ReportError(QStringLiteral("No printer is available."));
            }
            m_host->print(*document);
            return;
    }
}

ReportTitles readReportInfo(db::Database& database) {
    ReportTitles titles;
    try {
        auto rs = database.openTable(QStringLiteral("tblReportInfo"));
        if (!rs->eof()) {
            titles.reportTitle = rs->text(QStringLiteral("ReportTitle"));
            titles.filterTitle = rs->text(QStringLiteral("FilterTitle"));
        }
    } catch (const db::DbError& e) {
        throw ReportError(
            QStringLiteral("The report titles could not be read: %1").arg(e.message()));
    }
    return titles;
}

void writeReportInfo(const QString& dir, const ReportTitles& titles) {
    auto database = db::Database::open(dir, logstore::kCreateName);
    auto rs = database->openTable(QStringLiteral("tblReportInfo"));
    if (rs->eof()) {
        rs->addNew();
    } else {
        rs->edit();
    }
    // The fields hold 255 characters; a longer description is cut there.
    rs->setValue(QStringLiteral("ReportTitle"), titles.reportTitle.left(255));
    rs->setValue(QStringLiteral("FilterTitle"), titles.filterTitle.left(255));
    rs->update();
    database->close();
}

}  // namespace vts::report
