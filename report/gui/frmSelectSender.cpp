#include "frmSelectSender.h"

#include "FormScale.h"

#include "Database.h"
#include "Dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vts::report {

LogValuePicker::LogValuePicker(PickerField field, QString dir, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_field(field), m_dir(std::move(dir)), m_dialogs(dialogs) {
    const bool sender = field == PickerField::Sender;
    setWindowTitle(sender ? QStringLiteral("Select Sender") : QStringLiteral("Select Department"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(sender ? QStringLiteral("Sender") : QStringLiteral("Department"), this));
    m_list = new QListWidget(this);
    m_list->setObjectName(sender ? QStringLiteral("SenderList_c")
                                 : QStringLiteral("DepartmentList_c"));
    layout->addWidget(m_list, 1);
    auto* buttons = new QHBoxLayout;
    auto* select = new QPushButton(QStringLiteral("Select"), this);
    select->setObjectName(QStringLiteral("Select_c"));
    select->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Command1"));
    buttons->addStretch();
    buttons->addWidget(select);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(select, &QPushButton::clicked, this, &LogValuePicker::Select_c_Click);
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { Select_c_Click(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    vts::form::widenButtons(this);
}

void LogValuePicker::showEvent(QShowEvent* e) {
    load();
    QDialog::showEvent(e);
}

void LogValuePicker::load() {
    m_list->clear();
    try {
        m_list->addItems(distinctLogValues(m_dir, m_field));
    } catch (const db::DbError& e) {
        m_dialogs.message(QStringLiteral("The log could not be read: %1").arg(e.message()),
                          QStringLiteral("Error"), Dialogs::Icon::Critical);
    }
}

void LogValuePicker::Select_c_Click() {
    const QListWidgetItem* item = m_list->currentItem();
    if (!item || item->text().isEmpty()) {
        return;
    }
    if (QLineEdit* box = target()) {
        box->setText(item->text());
    }
    accept();
}

frmSelectSender::frmSelectSender(QString dir, Dialogs& dialogs, QWidget* parent)
    : LogValuePicker(PickerField::Sender, std::move(dir), dialogs, parent) {
    setObjectName(QStringLiteral("frmSelectSender"));
}

QLineEdit* frmSelectSender::target() const {
    if (m_tag == QLatin1String("FROMREPORTS")) {
        return m_reports;
    }
    if (m_tag == QLatin1String("FROMPURGE")) {
        return m_purge;
    }
    return nullptr;
}

frmSelectDepartment::frmSelectDepartment(QString dir, Dialogs& dialogs, QLineEdit* department,
                                         QWidget* parent)
    : LogValuePicker(PickerField::Department, std::move(dir), dialogs, parent),
      m_department(department) {
    setObjectName(QStringLiteral("frmSelectDepartment"));
}

}  // namespace vts::report
