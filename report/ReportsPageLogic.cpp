#include "ReportsPageLogic.h"

#include "Database.h"
#include "Dialogs.h"
#include "Paths.h"

#include <QFileInfo>

namespace vts::report {

ReportsPageLogic::ReportsPageLogic(ReportEngine& engine, Dialogs& dialogs)
    : m_engine(engine), m_dialogs(dialogs) {}

ReportsPageLogic::Outcome ReportsPageLogic::printClick(int index, const ReportsPageState& state) {
    m_error.clear();
    if (state.reportListIndex < 0) {
        return Outcome::Nothing;
    }

    m_selection = buildSelection(state.criteria);
    m_engine.setSelectionFormula(m_selection.formula);
    m_engine.setWindowSize(m_screen.width() - 180, m_screen.height() - 180);
    if (const auto file = layoutFileForType(state.reportTypeIndex)) {
        m_engine.setReportFileName(*file);
    }

    const QString dir = m_engine.workingDirectory();
    if (!QFileInfo(paths::resolve(m_engine.reportFileName(), dir)).isFile() ||
        m_engine.reportFileName().isEmpty()) {
        m_dialogs.message(kMissingLayoutMessage + m_engine.reportFileName(),
                          QStringLiteral("Error"), Dialogs::Icon::Critical);
        return Outcome::MissingLayout;
    }

    m_title.clear();
    if (state.reportListIndex == 0) {
        m_engine.setDataFile(0, kDataFile);
        if (const auto sort = sortChoice(state.sortIndex)) {
            m_title = sort->title;
            m_engine.setSortField(0, sort->field);
        }
    }

    auto fail = [&](const QString& text, bool silent) {
        m_error = text;
        if (!silent) {
            m_dialogs.message(text, QStringLiteral("Error"), Dialogs::Icon::Critical);
        }
        return Outcome::Failed;
    };

    try {
        writeReportInfo(dir, {m_title, m_selection.description});
    } catch (const db::DbError& e) {
        return fail(QStringLiteral("The report titles could not be written to the log: %1")
                        .arg(e.message()),
                    false);
    }

    bool printing = false;
    switch (index) {
        case 0:
            m_engine.setDestination(ReportEngine::ToWindow);
            break;
        case 1:
            m_engine.setDestination(ReportEngine::ToFile);
            break;
        case 2:
            // From the printer dialog on, any error ends the operation silently.
            printing = true;
            if (!m_choosePrinter || !m_choosePrinter()) {
                return Outcome::Cancelled;
            }
            m_engine.setDestination(ReportEngine::ToPrinter);
            break;
        default:
            break;
    }

    try {
        m_engine.run();
    } catch (const std::exception& e) {
        return fail(QString::fromStdString(e.what()), printing);
    }
    return Outcome::Ran;
}

}  // namespace vts::report
