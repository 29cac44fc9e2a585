#include "frmSMTP.h"

#include "FormHelpers.h"

#include <QLineEdit>

using namespace vts::form;

frmSMTP::frmSMTP(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSMTP"));
    setWindowTitle(QStringLiteral("Send Via Internet Mail Server (SMTP)"));
    setFixedSize(420, 150);

    label(this, QStringLiteral("Outgoing mail server (SMTP) address"), 12, 16, 220);
    m_AlertSMTPServer_c = make<QLineEdit>(this, QStringLiteral("AlertSMTPServer_c"), 235, 14, 170, 24);
    label(this, QStringLiteral("Pager E-Mail Address"), 12, 52, 220);
    m_AlertPagerEMailAddress_c =
        make<QLineEdit>(this, QStringLiteral("AlertPagerEMailAddress_c"), 235, 50, 170, 24);

    auto* ok = button(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), 225, 106, 85);
    auto* cancel = button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 320, 106, 85);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
