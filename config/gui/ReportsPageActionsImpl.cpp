// The configuration program's Reports page actions, on top of the report
// library's controller: hands it the page's controls through frmMain's
// accessors.

#include "ReportsPageActions.h"
#include "ReportsPageController.h"
#include "frmMain.h"

namespace vts {

namespace {

class ReportsPageActionsImpl final : public ReportsPageActions {
public:
    explicit ReportsPageActionsImpl(frmMain& main)
        : m_controller(controlsOf(main), main.context().workDir, *main.context().dialogs) {}

    void print_c_Click(int index) override { m_controller.print_c_Click(index); }
    void SelectSender_c_Click() override { m_controller.SelectSender_c_Click(); }
    void cmdSelectDepartment_Click() override { m_controller.cmdSelectDepartment_Click(); }
    void PurgeDatabase_c_Click() override { m_controller.PurgeDatabase_c_Click(); }

private:
    static report::ReportsPageControls controlsOf(frmMain& m) {
        return {&m,           m.ReportList_c(), m.cboReportType(), m.SortBy_c(),
                m.Status_c(), m.SelectDate_c(), m.From_c(),        m.To_c(),
                m.Sender_c(), m.Department_c()};
    }
    report::ReportsPageController m_controller;
};

}  // namespace

std::unique_ptr<ReportsPageActions> createReportsPageActions(frmMain& main) {
    return std::make_unique<ReportsPageActionsImpl>(main);
}

}  // namespace vts
