#pragma once

#include "OnlyOne.h"
#include "UpdaterActions.h"
#include "frmConnectISP.h"

#include <QDialog>
#include <QPointer>

class QPushButton;

namespace vts {

// The main window: offers the update. Update opens the connect window
// modally (the button stays disabled until it closes); Cancel declines.
// It shows the instructions window when the actions ask for it, and comes
// to the front when a later copy of the program asks through OnlyOne1.
class frmUpdateVT : public QDialog {
    Q_OBJECT
public:
    explicit frmUpdateVT(UpdaterActions& actions, OnlyOne* guard = nullptr,
                         QWidget* parent = nullptr);

    QPushButton* btnContinue;
    QPushButton* btnCancel;
    OnlyOne* OnlyOne1;

    // The open connect window, if any.
    frmConnectISP* connectWindow() const { return m_connect; }
    // The open instructions window, if any.
    QDialog* instructionsWindow() const { return m_instructions; }
    // Restores the window when minimized, else brings it to the top.
    void bringToFront();

    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void btnContinue_Click();
    void btnCancel_Click();
    void showInstructions();

    UpdaterActions& m_actions;
    QPointer<frmConnectISP> m_connect;
    QPointer<QDialog> m_instructions;
};

}  // namespace vts
