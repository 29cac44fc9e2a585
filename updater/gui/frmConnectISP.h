#pragma once

#include "ConnectFlow.h"

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vts {

// The connect window: asks the user to go online, then runs the update
// (ConnectFlow) with its status line and progress bar. It closes when the
// operation fails or the user cancels; Cancel, Escape and the close box
// all cancel, during a transfer too.
class frmConnectISP : public QDialog {
    Q_OBJECT
public:
    explicit frmConnectISP(UpdaterActions& actions, QWidget* parent = nullptr);

    ConnectFlow& flow() { return m_flow; }

    QLabel* Label7;
    QPushButton* btnGetUpdate;
    QPushButton* btnCancel;
    QFrame* DownloadPanel;
    QProgressBar* DownloadBar;

    void reject() override;

private:
    void btnGetUpdate_Click();
    void btnCancel_Click();

    ConnectFlow m_flow;
};

}  // namespace vts
