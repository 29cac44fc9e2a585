#include "ConfigProgram.h"

#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "LoginSettings.h"
#include "ReportsPageActions.h"
#include "SingleCopyGuard.h"
#include "frmLogin.h"
#include "frmMain.h"

namespace vts {

ConfigProgram::ConfigProgram(const ConfigContext& context) : m_ctx(context) {}

ConfigProgram::~ConfigProgram() {
    m_login.reset();
    m_main.reset();
}

bool ConfigProgram::start() {
    m_guard = std::make_unique<SingleCopyGuard>(m_ctx.workDir, login::kLockName);
    if (!m_guard->acquire()) {
        // Only a copy that is running means "already running"; a folder the
        // lock cannot be made in gets its own message naming it.
        m_ctx.dialogs->message(
            m_guard->refusalText(login::kAlreadyRunningText, login::kProgramName),
            login::kErrorTitle, Dialogs::Icon::Critical);
        return false;
    }
    if (!configstore::present(m_ctx.workDir)) {
        configstore::showMissing(*m_ctx.dialogs);
        return false;
    }
    login::Row row;
    try {
        row = login::read(m_ctx.workDir);
    } catch (const db::DbError& e) {
        m_ctx.dialogs->message(e.message(), login::kErrorTitle, Dialogs::Icon::Critical);
        return false;
    }
    if (!login::loginRequired(row)) return showMain();
    m_login = std::make_unique<frmLogin>(m_ctx, row.password);
    m_login->onLoggedIn = [this] { showMain(); };
    m_login->show();
    return true;
}

bool ConfigProgram::showMain() {
    m_main = std::make_unique<frmMain>(m_ctx);
    m_main->setReportsActions(createReportsPageActions(*m_main));
    if (onMainCreated) onMainCreated(*m_main);
    if (!m_main->Form_Load()) return false;
    m_main->show();
    return true;
}

}  // namespace vts
