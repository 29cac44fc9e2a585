#pragma once

#include <QDialog>

class QLineEdit;

// "Send Via Internet Mail Server (SMTP)": the pager's e-mail address for
// alerts. Its SMTP server box is a copy of the main window's, shown for
// reference and never copied back. Lives for the life of the main window;
// OK and Cancel only hide it.
class frmSMTP : public QDialog {
    Q_OBJECT
public:
    explicit frmSMTP(QWidget* parent = nullptr);

    QLineEdit* AlertSMTPServer_c() const { return m_AlertSMTPServer_c; }
    QLineEdit* AlertPagerEMailAddress_c() const { return m_AlertPagerEMailAddress_c; }

private:
    QLineEdit* m_AlertSMTPServer_c;
    QLineEdit* m_AlertPagerEMailAddress_c;
};
