#include "frmConfigLogin.h"

#include "FormScale.h"

#include "Database.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "LoginSettings.h"
#include "frmChangePassword.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>

using namespace vts::form;
namespace login = vts::login;
using vts::Dialogs;

frmConfigLogin::frmConfigLogin(const vts::ConfigContext& context, frmMain& main)
    : QDialog(&main), m_ctx(context), m_main(main) {
    setObjectName(QStringLiteral("frmConfigLogin"));
    setWindowTitle(QStringLiteral("Configure Login"));
    setFixedSize(340, 160);
    m_cbEnablePassword = make<QCheckBox>(this, QStringLiteral("cbEnablePassword"), 16, 14, 220, 22);
    m_cbEnablePassword->setText(QStringLiteral("Enable Login Password"));
    label(this, QStringLiteral("Auto - Logout after"), 16, 50, 130);
    m_txtIdleMinute = make<QLineEdit>(this, QStringLiteral("txtIdleMinute"), 150, 48, 50, 24);
    m_txtIdleMinute->setMaxLength(5);
    label(this, QStringLiteral("idle minutes"), 208, 50, 110);
    auto* change = button(this, QStringLiteral("cmdChangePW"), QStringLiteral("Change Password"),
                          16, 118, 130);
    auto* ok = button(this, QStringLiteral("cmdOkay"), QStringLiteral("OK"), 160, 118, 76);
    auto* cancel =
        button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 246, 118, 76);
    ok->setDefault(true);
    connect(change, &QPushButton::clicked, this, &frmConfigLogin::cmdChangePW_Click);
    connect(ok, &QPushButton::clicked, this, &frmConfigLogin::cmdOkay_Click);
    connect(cancel, &QPushButton::clicked, this, &frmConfigLogin::cmdCancel_Click);

    m_main.m_ConfigLoginCancelled = true;
    try {
        const login::Row row = login::read(m_ctx.workDir);
        m_txtIdleMinute->setText(row.idleMinutes);
        m_cbEnablePassword->setChecked(login::enabledBox(row));
    } catch (const vts::db::DbError& e) {
        m_ctx.dialogs->message(e.message(), login::kErrorTitle, Dialogs::Icon::Critical);
    }
    vts::form::scaleToFont(this);
}

void frmConfigLogin::cmdOkay_Click() {
    if (!login::validIdleMinutes(m_txtIdleMinute->text())) {
        m_ctx.dialogs->message(
            QStringLiteral("The idle minutes must be a whole number from 0 to 32767, or blank."),
            login::kErrorTitle, Dialogs::Icon::Critical);
        m_txtIdleMinute->setFocus();
        return;
    }
    try {
        login::write(m_ctx.workDir, m_txtIdleMinute->text(), m_cbEnablePassword->isChecked());
    } catch (const vts::db::DbError& e) {
        m_ctx.dialogs->message(e.message(), login::kErrorTitle, Dialogs::Icon::Critical);
        return;
    }
    m_main.m_ConfigLoginCancelled = false;
    accept();
}

void frmConfigLogin::cmdCancel_Click() {
    m_main.m_ConfigLoginCancelled = true;
    reject();
}

void frmConfigLogin::closeEvent(QCloseEvent* event) {
    m_main.m_ConfigLoginCancelled = true;
    QDialog::closeEvent(event);
}

void frmConfigLogin::cmdChangePW_Click() {
    frmChangePassword dialog(m_ctx, *m_main.SystemPassword_c(), this);
    dialog.exec();
}
