#pragma once

#include "QtEventLoop.h"
#include "QtReportHost.h"
#include "ReportsPageLogic.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QListWidget;
class QWidget;

namespace vts {
class Dialogs;
}

namespace vts::report {

class frmSelectSender;
class frmSelectDepartment;

// The Reports page controls the actions read and fill.
struct ReportsPageControls {
    QWidget* window = nullptr;
    QListWidget* ReportList_c = nullptr;
    QComboBox* cboReportType = nullptr;
    QComboBox* SortBy_c = nullptr;
    QComboBox* Status_c = nullptr;
    QCheckBox* SelectDate_c = nullptr;
    QDateEdit* From_c = nullptr;
    QDateEdit* To_c = nullptr;
    QLineEdit* Sender_c = nullptr;
    QLineEdit* Department_c = nullptr;
};

// The four buttons of the Reports page: View/Save/Print, the two pickers and
// the purge dialog. Owns the report engine (it keeps its settings between
// reports, like the page's report control) and the shared sender picker.
class ReportsPageController {
public:
    ReportsPageController(ReportsPageControls controls, QString dir, Dialogs& dialogs);
    ~ReportsPageController();

    void print_c_Click(int index);
    void SelectSender_c_Click();
    void cmdSelectDepartment_Click();
    void PurgeDatabase_c_Click();

    // The page's criteria as the logic takes them.
    ReportsPageState state() const;

    ReportEngine& engine() { return m_engine; }
    QtReportHost& host() { return m_host; }
    ReportsPageLogic& logic() { return m_logic; }
    frmSelectSender& senderPicker() { return *m_sender; }
    frmSelectDepartment& departmentPicker() { return *m_department; }

private:
    ReportsPageControls m_c;
    QString m_dir;
    Dialogs& m_dialogs;
    QtEventLoop m_loop;
    ReportEngine m_engine;
    QtReportHost m_host;
    ReportsPageLogic m_logic;
    std::unique_ptr<frmSelectSender> m_sender;
    std::unique_ptr<frmSelectDepartment> m_department;
};

}  // namespace vts::report
