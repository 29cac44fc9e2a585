#include "frmLogin.h"

#include "FormScale.h"

#include "Dialogs.h"
#include "FormHelpers.h"
#include "LoginSettings.h"
#include "frmChangePassword.h"

#include <QLabel>
#include <QLineEdit>

using namespace vts::form;
namespace login = vts::login;

frmLogin::frmLogin(const vts::ConfigContext& context, const QString& storedPassword,
                   QWidget* parent)
    : QDialog(parent), m_ctx(context), m_storedPassword(storedPassword) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Login"));
    setFixedSize(320, 170);
    auto* banner = label(this, QStringLiteral("Vantrel Server Configuration"), 0, 0, 320, 60,
                         QStringLiteral("Image1"));
    banner->setAlignment(Qt::AlignCenter);
    banner->setStyleSheet(QStringLiteral(
        "background-color: #000080; color: white; font-size: 13pt; font-weight: bold;"));
    label(this, QStringLiteral("Password"), 20, 80, 80);
    m_SystemPassword_c =
        make<QLineEdit>(this, QStringLiteral("SystemPassword_c"), 100, 78, 200, 24);
    maskPassword(m_SystemPassword_c);
    auto* ok = button(this, QStringLiteral("Command1"), QStringLiteral("OK"), 120, 128, 85);
    auto* cancel = button(this, QStringLiteral("Command2"), QStringLiteral("Cancel"), 215, 128, 85);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &frmLogin::Command1_Click);
    connect(cancel, &QPushButton::clicked, this, &frmLogin::Command2_Click);
    vts::form::scaleToFont(this);
}

void frmLogin::Command1_Click() {
    if (!login::passwordsMatch(m_SystemPassword_c->text(), m_storedPassword)) {
        m_ctx.dialogs->message(login::kInvalidPasswordText, login::kErrorTitle,
                               vts::Dialogs::Icon::Critical);
        m_SystemPassword_c->setFocus();
        return;
    }
    m_done = true;
    accept();
    if (onLoggedIn) onLoggedIn();
}

void frmLogin::Command2_Click() { reject(); }

void frmLogin::reject() {
    QDialog::reject();
    if (!m_done && m_ctx.endProgram) {
        m_done = true;
        m_ctx.endProgram();
    }
}
