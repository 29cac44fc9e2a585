#pragma once

#include "ConfigContext.h"

#include <QDialog>

#include <functional>

class QLineEdit;

// "Login": asks for the system password until it is typed correctly
// (letter case and blanks around it do not count; no limit on attempts) or
// the operator cancels, which ends the program.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    frmLogin(const vts::ConfigContext& context, const QString& storedPassword,
             QWidget* parent = nullptr);

    QLineEdit* SystemPassword_c() const { return m_SystemPassword_c; }
    // Called once the password was accepted and the window has closed.
    std::function<void()> onLoggedIn;

public slots:
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel
    void reject() override;

private:
    vts::ConfigContext m_ctx;
    QString m_storedPassword;
    QLineEdit* m_SystemPassword_c;
    bool m_done = false;
};
