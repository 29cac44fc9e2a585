#include "frmDirectDial.h"

#include "FormScale.h"

#include "Dialogs.h"
#include "FormHelpers.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

using namespace vts::form;

frmDirectDial::frmDirectDial(vts::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs) {
    setObjectName(QStringLiteral("frmDirectDial"));
    setWindowTitle(QStringLiteral("Send Via Direct Dial"));
    setFixedSize(400, 290);

    label(this, QStringLiteral("Pager ID/PIN"), 12, 16, 190);
    m_AlertPIN_c = make<QLineEdit>(this, QStringLiteral("AlertPIN_c"), 205, 14, 180, 24);
    label(this, QStringLiteral("Carrier Phone Number"), 12, 48, 190);
    m_AlertAlphaPhoneNumber_c =
        make<QLineEdit>(this, QStringLiteral("AlertAlphaPhoneNumber_c"), 205, 46, 180, 24);
    label(this, QStringLiteral("Carrier Password (if required)"), 12, 80, 190);
    m_AlertPagePassword_c =
        make<QLineEdit>(this, QStringLiteral("AlertPagePassword_c"), 205, 78, 180, 24);

    auto* group = make<QGroupBox>(this, QStringLiteral("Settings"), 12, 114, 373, 120);
    group->setTitle(QStringLiteral("Settings"));
    label(group, QStringLiteral("Carrier baud rate"), 10, 26, 150);
    auto* baud = make<QComboBox>(group, QStringLiteral("cboBaud"), 165, 24, 100, 24);
    baud->addItems({QStringLiteral("300"), QStringLiteral("1200"), QStringLiteral("2400")});
    baud->setCurrentIndex(0);
    auto* n81 = make<QRadioButton>(group, QStringLiteral("opt8N1"), 275, 24, 90, 22);
    n81->setText(QStringLiteral("8,N,1"));
    auto* e71 = make<QRadioButton>(group, QStringLiteral("optE71"), 275, 50, 90, 22);
    e71->setText(QStringLiteral("7,E,1"));
    e71->setChecked(true);
    label(group, QStringLiteral("Paging Protocol"), 10, 80, 150);
    auto* protocol = make<QComboBox>(group, QStringLiteral("cboPagingProtocol"), 165, 78, 100, 24);
    protocol->addItem(QStringLiteral("TAP"));

    auto* ok = button(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), 110, 248, 85);
    auto* cancel =
        button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 205, 248, 85);
    auto* help = button(this, QStringLiteral("cmdHelp"), QStringLiteral("Help"), 300, 248, 85);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &frmDirectDial::cmdHelp_Click);
    vts::form::scaleToFont(this);
}

void frmDirectDial::cmdHelp_Click() {
    m_dialogs.message(QStringLiteral(
        "Enter the pager ID or PIN that receives alert pages, the telephone number of the paging "
        "carrier's modem line and, if the carrier requires one, its password. Alert pages are "
        "sent only when both the pager ID and the carrier phone number are filled in."));
}
