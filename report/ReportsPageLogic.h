#pragma once

#include "ReportCriteria.h"
#include "ReportEngine.h"

#include <QSize>

#include <functional>

namespace vts {
class Dialogs;
}

// What the Reports page does when View, Save or Print is pressed: builds the
// selection from the criteria, sets up the engine, checks the layout file,
// writes the title row and runs the report. Plain logic, so the page and the
// vtsreport command run exactly the same steps.
namespace vts::report {

struct ReportsPageState {
    int reportListIndex = 0;  // -1: no entry selected
    int reportTypeIndex = 0;  // -1: none
    int sortIndex = 0;        // -1: none
    Criteria criteria;
};

class ReportsPageLogic {
public:
    enum class Outcome { Nothing, MissingLayout, Ran, Cancelled, Failed };

    ReportsPageLogic(ReportEngine& engine, Dialogs& dialogs);

    // The screen's extent in pixels; the report window is 180 smaller.
    void setScreenSize(const QSize& pixels) { m_screen = pixels; }
    // Shows the printer dialog; false when the operator cancels it.
    void setPrinterChooser(std::function<bool()> chooser) { m_choosePrinter = std::move(chooser); }

    // index 0 View, 1 Save, 2 Print.
    Outcome printClick(int index, const ReportsPageState& state);

    // The selection and title of the last report started.
    const Selection& lastSelection() const { return m_selection; }
    const QString& lastTitle() const { return m_title; }
    QString lastError() const { return m_error; }

private:
    ReportEngine& m_engine;
    Dialogs& m_dialogs;
    QSize m_screen{1024, 768};
    std::function<bool()> m_choosePrinter;
    Selection m_selection;
    QString m_title;
    QString m_error;
};

inline const QString kMissingLayoutMessage =
    QStringLiteral("A required report file is not present: ");

}  // namespace vts::report
