#pragma once

#include "LogPickerSource.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vts {
class Dialogs;
}

namespace vts::report {

// Picks one of the distinct senders (or departments) of the message log and
// puts it into the text box its caller named. An empty choice keeps the
// picker open; Cancel changes nothing.
class LogValuePicker : public QDialog {
    Q_OBJECT
public:
    LogValuePicker(PickerField field, QString dir, Dialogs& dialogs, QWidget* parent = nullptr);

    // Fills the list from the log; called when the picker opens.
    void load();
    QListWidget* list() const { return m_list; }
    // Select_c: puts the chosen text into the target and closes; an empty
    // or missing choice leaves the picker open.
    void Select_c_Click();

protected:
    void showEvent(QShowEvent* e) override;
    // Where the chosen text goes; null for nowhere.
    virtual QLineEdit* target() const = 0;

private:
    PickerField m_field;
    QString m_dir;
    Dialogs& m_dialogs;
    QListWidget* m_list;
};

// The sender picker, shared by the Reports page ("FROMREPORTS") and the
// purge dialog ("FROMPURGE"); its tag says which text box gets the sender.
class frmSelectSender final : public LogValuePicker {
    Q_OBJECT
public:
    frmSelectSender(QString dir, Dialogs& dialogs, QWidget* parent = nullptr);
    void setTag(const QString& tag) { m_tag = tag; }
    QString tag() const { return m_tag; }
    void setReportsTarget(QLineEdit* box) { m_reports = box; }
    void setPurgeTarget(QLineEdit* box) { m_purge = box; }

protected:
    QLineEdit* target() const override;

private:
    QString m_tag;
    QLineEdit* m_reports = nullptr;
    QLineEdit* m_purge = nullptr;
};

class frmSelectDepartment final : public LogValuePicker {
    Q_OBJECT
public:
    frmSelectDepartment(QString dir, Dialogs& dialogs, QLineEdit* department,
                        QWidget* parent = nullptr);

protected:
    QLineEdit* target() const override { return m_department; }

private:
    QLineEdit* m_department;
};

}  // namespace vts::report
