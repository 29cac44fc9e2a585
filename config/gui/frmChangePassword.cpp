#include "frmChangePassword.h"

#include "FormScale.h"

#include "Dialogs.h"
#include "FormHelpers.h"
#include "LoginSettings.h"

#include <QLineEdit>

using namespace vts::form;
namespace login = vts::login;

void vts::form::maskPassword(QLineEdit* box) {
    box->setEchoMode(QLineEdit::Password);
    box->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    box->setMaxLength(vts::login::passwordWidth());
}

frmChangePassword::frmChangePassword(const vts::ConfigContext& context, QLineEdit& systemPassword,
                                     QWidget* parent)
    : QDialog(parent), m_ctx(context), m_systemPassword(systemPassword) {
    setObjectName(QStringLiteral("frmChangePassword"));
    setWindowTitle(QStringLiteral("Change Password"));
    setFixedSize(340, 160);
    label(this, QStringLiteral("Old Password"), 12, 16, 130);
    m_OldPassword_c = make<QLineEdit>(this, QStringLiteral("OldPassword_c"), 145, 14, 180, 24);
    label(this, QStringLiteral("New Password"), 12, 48, 130);
    m_NewPassword_c = make<QLineEdit>(this, QStringLiteral("NewPassword_c"), 145, 46, 180, 24);
    label(this, QStringLiteral("Confirm Password"), 12, 80, 130);
    m_ConfirmPassword_c =
        make<QLineEdit>(this, QStringLiteral("ConfirmPassword_c"), 145, 78, 180, 24);
    for (QLineEdit* box : {m_OldPassword_c, m_NewPassword_c, m_ConfirmPassword_c})
        maskPassword(box);
    auto* ok = button(this, QStringLiteral("Command1"), QStringLiteral("OK"), 145, 120, 85);
    auto* cancel = button(this, QStringLiteral("Command2"), QStringLiteral("Cancel"), 240, 120, 85);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &frmChangePassword::Command1_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    vts::form::scaleToFont(this);
}

void frmChangePassword::Command1_Click() {
    if (!login::passwordsMatch(m_OldPassword_c->text(), m_systemPassword.text())) {
        m_ctx.dialogs->message(login::kOldPasswordText, login::kErrorTitle,
                               vts::Dialogs::Icon::Critical);
        return;
    }
    if (login::passwordsMatch(m_NewPassword_c->text(), m_ConfirmPassword_c->text())) {
        // A password the store would cut would lock the operator out after
        // the next start: refuse it before anything changes.
        if (!login::passwordFits(m_NewPassword_c->text())) {
            m_ctx.dialogs->message(login::kPasswordTooLongText.arg(login::passwordWidth()),
                                   login::kErrorTitle, vts::Dialogs::Icon::Critical);
            m_NewPassword_c->setFocus();
            return;
        }
        m_systemPassword.setText(login::normalised(m_NewPassword_c->text()));
    }
    accept();
}
