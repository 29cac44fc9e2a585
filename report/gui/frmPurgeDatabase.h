#pragma once

#include "PurgeLogic.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;

namespace vts {
class Dialogs;
}

namespace vts::report {

class frmSelectSender;

// The "Purge Database" dialog: an optional date range and sender prefix,
// then PurgeLogic does the checking, asking and deleting. It closes after a
// completed purge and stays open, with its entries, otherwise.
class frmPurgeDatabase final : public QDialog {
    Q_OBJECT
public:
    frmPurgeDatabase(QString dir, Dialogs& dialogs, frmSelectSender* senderPicker,
                     QWidget* parent = nullptr);

    QCheckBox* SelectDate_c;
    QDateEdit* From_c;
    QDateEdit* To_c;
    QLineEdit* Sender_c;
    QPushButton* SelectSender_c;
    QPushButton* Purge_c;
    QPushButton* Cancel_c;

    void Purge_c_Click();
    void SelectSender_c_Click();
    PurgeCriteria criteria() const;
    PurgeLogic::Outcome lastOutcome() const { return m_outcome; }

private:
    PurgeLogic m_logic;
    frmSelectSender* m_picker;
    PurgeLogic::Outcome m_outcome = PurgeLogic::Outcome::Declined;
};

}  // namespace vts::report
