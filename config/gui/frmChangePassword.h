#pragma once

#include "ConfigContext.h"

#include <QDialog>

class QLineEdit;

// "Change Password": changes the password held in the main window's
// SystemPassword_c box (not the store). A wrong old password keeps the
// dialog open; an unmatched confirmation closes it without a change.
class frmChangePassword : public QDialog {
    Q_OBJECT
public:
    frmChangePassword(const vts::ConfigContext& context, QLineEdit& systemPassword,
                      QWidget* parent = nullptr);

    QLineEdit* OldPassword_c() const { return m_OldPassword_c; }
    QLineEdit* NewPassword_c() const { return m_NewPassword_c; }
    QLineEdit* ConfirmPassword_c() const { return m_ConfirmPassword_c; }

public slots:
    void Command1_Click();

private:
    vts::ConfigContext m_ctx;
    QLineEdit& m_systemPassword;
    QLineEdit* m_OldPassword_c;
    QLineEdit* m_NewPassword_c;
    QLineEdit* m_ConfirmPassword_c;
};

namespace vts::form {
// A masked box showing "*" for every typed character.
void maskPassword(QLineEdit* box);
}  // namespace vts::form
