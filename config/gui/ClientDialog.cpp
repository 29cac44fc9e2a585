#include "ClientDialog.h"

#include "FormScale.h"

#include "ClientList.h"
#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "frmMain.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>

using namespace vts::form;
namespace clients = vts::clients;
using vts::Dialogs;

namespace {

int fieldWidth(const QString& field) {
    for (const auto& f : vts::configstore::clientsTable().fields)
        if (f.name.compare(field, Qt::CaseInsensitive) == 0 && f.size > 0) return f.size;
    return 255;
}

}  // namespace

ClientDialog::ClientDialog(const vts::ConfigContext& context, const QString& name,
                           const QString& caption, QWidget* parent)
    : QDialog(parent), m_ctx(context) {
    setObjectName(name);
    setWindowTitle(caption);
    setFixedSize(440, 190);

    label(this, QStringLiteral("User Name"), 12, 16, 150);
    m_Username_c = make<QLineEdit>(this, QStringLiteral("Username_c"), 165, 14, 180, 24);
    m_Username_c->setMaxLength(fieldWidth(QStringLiteral("Name")));
    label(this, QStringLiteral("Vantrel Client Database"), 12, 52, 150);
    m_ClientLocation_c =
        make<QLineEdit>(this, QStringLiteral("ClientLocation_c"), 165, 50, 180, 24);
    m_ClientLocation_c->setMaxLength(fieldWidth(QStringLiteral("Path")));
    label(this, QStringLiteral("Computer Name"), 12, 88, 150);
    m_ComputerName_c = make<QLineEdit>(this, QStringLiteral("ComputerName_c"), 165, 86, 180, 24);
    m_ComputerName_c->setMaxLength(fieldWidth(QStringLiteral("ComputerName")));

    auto* browse = button(this, QStringLiteral("Command3"), QStringLiteral("Browse"), 352, 49, 76);
    auto* ok = button(this, QStringLiteral("Command2"), QStringLiteral("OK"), 250, 146, 85);
    auto* cancel = button(this, QStringLiteral("Command1"), QStringLiteral("Cancel"), 343, 146, 85);
    ok->setDefault(true);
    connect(browse, &QPushButton::clicked, this, &ClientDialog::Command3_Click);
    connect(ok, &QPushButton::clicked, this, &ClientDialog::Command2_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Tab goes through the boxes in reading order, Browse right after the
    // location it fills, so Tab from the last box lands on OK's row.
    setTabOrder(m_Username_c, m_ClientLocation_c);
    setTabOrder(m_ClientLocation_c, browse);
    setTabOrder(browse, m_ComputerName_c);
    setTabOrder(m_ComputerName_c, ok);
    setTabOrder(ok, cancel);

    chooseFile = [this] {
        const std::unique_ptr<QFileDialog> dialog = makeFileDialog();
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().first();
    };
    vts::form::scaleToFont(this);
}

std::unique_ptr<QFileDialog> ClientDialog::makeFileDialog() {
    auto dialog = std::make_unique<QFileDialog>(this);
    dialog->setObjectName(QStringLiteral("CommonDialog1"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // The list shows the filter's name; the pattern takes VT.MDB in any case.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setNameFilter(QStringLiteral("Vantrel Client ([Vv][Tt].[Mm][Dd][Bb])"));
    return dialog;
}

void ClientDialog::Command3_Click() {
    const QString chosen = chooseFile ? chooseFile() : QString();
    if (!chosen.isEmpty()) m_ClientLocation_c->setText(locationFrom(chosen));
}

void ClientDialog::storeError(const QString& message) {
    m_ctx.dialogs->message(message, QStringLiteral("Error"), Dialogs::Icon::Critical);
}

frmAddClient::frmAddClient(const vts::ConfigContext& context, QWidget* parent)
    : ClientDialog(context, QStringLiteral("frmAddClient"), QStringLiteral("Add Client"), parent) {}

void frmAddClient::Command2_Click() {
    if (!clients::locationAccessible(m_ClientLocation_c->text(), m_ctx.workDir))
        m_ctx.dialogs->message(clients::kPathText, clients::kPathTitle, Dialogs::Icon::Critical);
    try {
        const clients::Client typed{m_Username_c->text(), m_ClientLocation_c->text(),
                                    m_ComputerName_c->text()};
        if (clients::add(m_ctx.workDir, typed) == clients::AddResult::Duplicate) {
            m_ctx.dialogs->message(clients::kDuplicateText, clients::kDuplicateTitle,
                                   Dialogs::Icon::Critical);
            return;
        }
        accept();
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
}

frmEditClient::frmEditClient(const vts::ConfigContext& context, frmMain& main)
    : ClientDialog(context, QStringLiteral("frmEditClient"), QStringLiteral("Edit Client"), &main),
      m_main(main) {
    const qint64 id = selectedId();
    if (id < 0) return;
    try {
        if (const auto client = clients::find(m_ctx.workDir, id)) {
            m_Username_c->setText(client->name);
            m_ClientLocation_c->setText(client->path);
            m_ComputerName_c->setText(client->computerName);
        }
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
}

qint64 frmEditClient::selectedId() const {
    const QListWidgetItem* item = m_main.UserList_c()->currentItem();
    if (!item || m_main.UserList_c()->currentRow() < 0) return -1;
    return item->data(Qt::UserRole).toLongLong();
}

QString frmEditClient::locationFrom(const QString& chosen) const {
    return clients::folderPart(chosen);
}

void frmEditClient::Command2_Click() {
    const qint64 id = selectedId();
    try {
        if (id >= 0)
            clients::update(
                m_ctx.workDir, id,
                {m_Username_c->text(), m_ClientLocation_c->text(), m_ComputerName_c->text()});
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
        return;
    }
    accept();
}
