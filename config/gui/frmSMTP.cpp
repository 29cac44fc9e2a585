#include "frmSMTP.h"

#include "FormScale.h"

#include "FormHelpers.h"

#include <QLineEdit>

using namespace vts::form;

frmSMTP::frmSMTP(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSMTP"));
    setWindowTitle(QStringLiteral("Send Via Internet Mail Server (SMTP)"));
    setFixedSize(490, 150);

    label(this, QStringLiteral("Outgoing mail server (SMTP) address"), 12, 16, 270);
    m_AlertSMTPServer_c =
        make<QLineEdit>(this, QStringLiteral("AlertSMTPServer_c"), 285, 14, 190, 24);
    label(this, QStringLiteral("Pager E-Mail Address"), 12, 52, 270);
    m_AlertPagerEMailAddress_c =
        make<QLineEdit>(this, QStringLiteral("AlertPagerEMailAddress_c"), 285, 50, 190, 24);

    auto* ok = button(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), 295, 106, 85);
    auto* cancel =
        button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 390, 106, 85);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    vts::form::scaleToFont(this);
}
