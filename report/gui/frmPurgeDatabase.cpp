#include "frmPurgeDatabase.h"

#include "FormScale.h"

#include "frmSelectSender.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vts::report {

frmPurgeDatabase::frmPurgeDatabase(QString dir, Dialogs& dialogs, frmSelectSender* senderPicker,
                                   QWidget* parent)
    : QDialog(parent), m_logic(std::move(dir), dialogs), m_picker(senderPicker) {
    setObjectName(QStringLiteral("frmPurgeDatabase"));
    setWindowTitle(QStringLiteral("Purge Database"));
    auto* grid = new QGridLayout(this);

    SelectDate_c = new QCheckBox(QStringLiteral("Select date range"), this);
    SelectDate_c->setObjectName(QStringLiteral("SelectDate_c"));
    grid->addWidget(SelectDate_c, 0, 0, 1, 4);

    const QDate today = QDate::currentDate();
    From_c = new QDateEdit(today, this);
    From_c->setObjectName(QStringLiteral("From_c"));
    To_c = new QDateEdit(today, this);
    To_c->setObjectName(QStringLiteral("To_c"));
    for (QDateEdit* d : {From_c, To_c}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
    }
    grid->addWidget(new QLabel(QStringLiteral("From"), this), 1, 0);
    grid->addWidget(From_c, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("to"), this), 1, 2);
    grid->addWidget(To_c, 1, 3);

    Sender_c = new QLineEdit(this);
    Sender_c->setObjectName(QStringLiteral("Sender_c"));
    SelectSender_c = new QPushButton(QStringLiteral("Select Sender"), this);
    SelectSender_c->setObjectName(QStringLiteral("SelectSender_c"));
    grid->addWidget(new QLabel(QStringLiteral("Sender Name"), this), 2, 0);
    grid->addWidget(Sender_c, 2, 1, 1, 2);
    grid->addWidget(SelectSender_c, 2, 3);

    auto* buttons = new QHBoxLayout;
    Purge_c = new QPushButton(QStringLiteral("Purge"), this);
    Purge_c->setObjectName(QStringLiteral("Purge_c"));
    Cancel_c = new QPushButton(QStringLiteral("Cancel"), this);
    Cancel_c->setObjectName(QStringLiteral("Cancel_c"));
    buttons->addStretch();
    buttons->addWidget(Purge_c);
    buttons->addWidget(Cancel_c);
    grid->addLayout(buttons, 3, 0, 1, 4);

    connect(Purge_c, &QPushButton::clicked, this, &frmPurgeDatabase::Purge_c_Click);
    connect(Cancel_c, &QPushButton::clicked, this, &QDialog::reject);
    connect(SelectSender_c, &QPushButton::clicked, this, &frmPurgeDatabase::SelectSender_c_Click);
    vts::form::widenButtons(this);
}

PurgeCriteria frmPurgeDatabase::criteria() const {
    return {SelectDate_c->isChecked(), From_c->date(), To_c->date(), Sender_c->text()};
}

void frmPurgeDatabase::Purge_c_Click() {
    m_outcome = m_logic.purge(criteria());
    if (m_outcome == PurgeLogic::Outcome::Purged) {
        accept();
    }
}

void frmPurgeDatabase::SelectSender_c_Click() {
    if (!m_picker) {
        return;
    }
    m_picker->setTag(QStringLiteral("FROMPURGE"));
    m_picker->setPurgeTarget(Sender_c);
    m_picker->exec();
}

}  // namespace vts::report
