#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vts {
class Dialogs;
}

// "Send Via Direct Dial": the alert-page fields of the settings row. Lives,
// hidden or shown, for the life of the main window; OK and Cancel only hide
// it, so the next save writes what the operator last typed. The "Settings"
// group is shown for reference and is neither loaded nor stored.
class frmDirectDial : public QDialog {
    Q_OBJECT
public:
    explicit frmDirectDial(vts::Dialogs& dialogs, QWidget* parent = nullptr);

    QLineEdit* AlertPIN_c() const { return m_AlertPIN_c; }
    QLineEdit* AlertAlphaPhoneNumber_c() const { return m_AlertAlphaPhoneNumber_c; }
    QLineEdit* AlertPagePassword_c() const { return m_AlertPagePassword_c; }

public slots:
    void cmdHelp_Click();

private:
    vts::Dialogs& m_dialogs;
    QLineEdit* m_AlertPIN_c;
    QLineEdit* m_AlertAlphaPhoneNumber_c;
    QLineEdit* m_AlertPagePassword_c;
};
