#include "frmNewPort.h"

#include "FormScale.h"

#include "Database.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "ModemList.h"

#include <QLineEdit>

using namespace vts::form;

frmNewPort::frmNewPort(const vts::ConfigContext& context, QWidget* parent)
    : QDialog(parent), m_ctx(context) {
    setObjectName(QStringLiteral("frmNewPort"));
    setWindowTitle(QStringLiteral("Add a new port"));
    setFixedSize(330, 120);
    label(this, QStringLiteral("Enter the new COM port number for the modem"), 12, 12, 306);
    m_NewPortNumber_c = make<QLineEdit>(this, QStringLiteral("NewPortNumber_c"), 12, 40, 80, 24);
    m_NewPortNumber_c->setMaxLength(16);
    auto* add = button(this, QStringLiteral("Command2"), QStringLiteral("Add Port"), 138, 80, 85);
    auto* cancel = button(this, QStringLiteral("Command1"), QStringLiteral("Cancel"), 233, 80, 85);
    add->setDefault(true);
    connect(add, &QPushButton::clicked, this, &frmNewPort::Command2_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    vts::form::scaleToFont(this);
}

void frmNewPort::Command2_Click() {
    using vts::Dialogs;
    namespace modems = vts::modems;
    try {
        switch (modems::add(m_ctx.workDir, m_NewPortNumber_c->text())) {
            case modems::AddResult::OutOfRange:
                m_ctx.dialogs->message(modems::kRangeText, modems::kRangeTitle,
                                       Dialogs::Icon::Critical);
                m_NewPortNumber_c->setFocus();
                return;
            case modems::AddResult::Duplicate:
                m_ctx.dialogs->message(modems::kDuplicateText, modems::kDuplicateTitle,
                                       Dialogs::Icon::Critical);
                return;
            case modems::AddResult::Added:
                accept();
                return;
        }
    } catch (const vts::db::DbError& e) {
        m_ctx.dialogs->message(e.message(), QStringLiteral("Error"), Dialogs::Icon::Critical);
    }
}
