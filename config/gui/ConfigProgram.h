#pragma once

#include "ConfigContext.h"

#include <functional>
#include <memory>

class frmLogin;
class frmMain;

namespace vts {

class SingleCopyGuard;

// The start of the configuration program: refuse a second copy in the same
// working directory, require the store, then show the login window, or the
// main window at once when the login is switched off. The main window comes
// with the Reports page actions of the report library.
class ConfigProgram {
public:
    explicit ConfigProgram(const ConfigContext& context);
    ~ConfigProgram();

    // Runs the start; false when the program ended on the way (the caller
    // then leaves without running its event loop).
    bool start();

    frmLogin* login() const { return m_login.get(); }
    frmMain* main() const { return m_main.get(); }
    // Called with the new main window before it is shown.
    std::function<void(frmMain&)> onMainCreated;

private:
    bool showMain();

    ConfigContext m_ctx;
    std::unique_ptr<SingleCopyGuard> m_guard;
    std::unique_ptr<frmLogin> m_login;
    std::unique_ptr<frmMain> m_main;
};

}  // namespace vts
