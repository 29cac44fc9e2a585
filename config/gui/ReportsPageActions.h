#pragma once

#include <memory>

class frmMain;

namespace vts {

// The actions behind the Reports page of frmMain. frmMain places and fills
// the page's controls and forwards its four button handlers here; the
// report library's engine, pickers and purge implement them. Until actions
// are set (a window under test), the buttons do nothing.
class ReportsPageActions {
public:
    virtual ~ReportsPageActions() = default;
    // index 0 View, 1 Save, 2 Print.
    virtual void print_c_Click(int index) = 0;
    virtual void SelectSender_c_Click() = 0;
    virtual void cmdSelectDepartment_Click() = 0;
    virtual void PurgeDatabase_c_Click() = 0;
};

// The real actions: the report library's ReportsPageController over the
// page's controls. ConfigProgram installs them in every main window it opens.
// The object may keep `main` for the life of the window (it reads the page's
// controls through frmMain's accessors and its context()).
std::unique_ptr<ReportsPageActions> createReportsPageActions(frmMain& main);

}  // namespace vts
