#pragma once

#include "ConfigContext.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class frmMain;

// "Configure Login": the login flag and the auto-logout minutes, written to
// the store on OK; tells the main window through its cancelled flag whether
// it was left with Cancel. Opens frmChangePassword on the main window's
// password box.
class frmConfigLogin : public QDialog {
    Q_OBJECT
public:
    frmConfigLogin(const vts::ConfigContext& context, frmMain& main);

    QCheckBox* cbEnablePassword() const { return m_cbEnablePassword; }
    QLineEdit* txtIdleMinute() const { return m_txtIdleMinute; }

public slots:
    void cmdOkay_Click();
    void cmdCancel_Click();
    void cmdChangePW_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    vts::ConfigContext m_ctx;
    frmMain& m_main;
    QCheckBox* m_cbEnablePassword;
    QLineEdit* m_txtIdleMinute;
};
