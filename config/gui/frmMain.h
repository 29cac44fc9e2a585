#pragma once

#include "ConfigContext.h"
#include "ConfigSettings.h"

#include <QWidget>

#include <array>
#include <memory>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class frmDirectDial;
class frmSMTP;

namespace vts {
class ReportsPageActions;
}

// The configuration program's main window: four pages switched by the
// SwitchFrame_c buttons, the working copy of the settings row (filled once
// by LoadConfig, written back by SaveConfig on every way out and after the
// login settings), the modem list and the client list. Controls carry their
// names as object names; array members are named "<name>_<index>"
// (SwitchFrame_c_1 .. SwitchFrame_c_4, print_c_0 .. print_c_2). The Reports
// page's actions are forwarded to a ReportsPageActions object when one is
// set. Every child dialog is shown with exec(); every message goes through
// the context's Dialogs.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(const vts::ConfigContext& context, QWidget* parent = nullptr);
    ~frmMain() override;

    const vts::ConfigContext& context() const { return m_ctx; }

    // The start-up sequence; false when the program was ended on the way
    // (missing store).
    bool Form_Load();
    bool LoadConfig();
    bool SaveConfig();
    bool LoadModems();
    bool LoadClientList();

    void setReportsActions(std::unique_ptr<vts::ReportsPageActions> actions);
    vts::ReportsPageActions* reportsActions() const { return m_reports.get(); }

    // Set by frmConfigLogin: true when it was left with Cancel.
    bool m_ConfigLoginCancelled = false;

    // Controls other windows read or write.
    QLineEdit* SystemPassword_c() const { return m_SystemPassword_c; }
    QLineEdit* MessageQueueLocation_c() const { return m_MessageQueueLocation_c; }
    QLineEdit* AlertSMTPServer_c() const { return m_AlertSMTPServer_c; }
    QListWidget* UserList_c() const { return m_UserList_c; }
    QListWidget* AvailableModems_c() const { return m_AvailableModems_c; }
    frmDirectDial* directDial() const { return m_directDial.get(); }
    frmSMTP* smtp() const { return m_smtp.get(); }

    // The Reports page.
    QFrame* FrameReports_c() const { return m_frames[2]; }
    QListWidget* ReportList_c() const { return m_ReportList_c; }
    QComboBox* cboReportType() const { return m_cboReportType; }
    QComboBox* SortBy_c() const { return m_SortBy_c; }
    QComboBox* Status_c() const { return m_Status_c; }
    QCheckBox* SelectDate_c() const { return m_SelectDate_c; }
    QDateEdit* From_c() const { return m_From_c; }
    QDateEdit* To_c() const { return m_To_c; }
    QLineEdit* Sender_c() const { return m_Sender_c; }
    QLineEdit* Department_c() const { return m_Department_c; }
    QPushButton* SelectSender_c() const { return m_SelectSender_c; }
    QPushButton* cmdSelectDepartment() const { return m_cmdSelectDepartment; }
    QPushButton* print_c(int index) const { return m_print_c.at(static_cast<size_t>(index)); }
    QPushButton* PurgeDatabase_c() const { return m_PurgeDatabase_c; }

public slots:
    void SwitchFrame_c_Click(int index);
    void Exit_c_Click();
    void Command1_Click();  // Browse for the queue folder
    void Command2_Click();  // Add a modem
    void Command3_Click();  // Remove a modem
    void cmdPendingFilesStatus_Click();
    void ChangePassword_c_Click();
    void cboTransmissionMethod_Click();
    void cmdConfigure_Click();
    void AddClient_c_Click();
    void EditClient_c_Click();
    void Remove_c_Click();
    void Configure_c_Click();

    void print_c_Click(int index);
    void SelectSender_c_Click();
    void cmdSelectDepartment_Click();
    void PurgeDatabase_c_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildSetupPage(QFrame* page);
    void buildAlertsPage(QFrame* page);
    void buildReportsPage(QFrame* page);
    void buildClientsPage(QFrame* page);
    void showTransmissionDialog(const QString& method);
    bool checkStore();
    bool leave();
    void storeError(const QString& message);
    qint64 selectedClientId() const;
    // Each settings field with the control that shows it, in field order.
    std::vector<std::pair<QString, QWidget*>> bindings() const;

    vts::ConfigContext m_ctx;
    std::unique_ptr<vts::ReportsPageActions> m_reports;
    std::unique_ptr<frmDirectDial> m_directDial;
    std::unique_ptr<frmSMTP> m_smtp;
    vts::settings::Values m_loaded;
    bool m_ended = false;

    std::array<QPushButton*, 4> m_SwitchFrame_c{};
    std::array<QFrame*, 4> m_frames{};
    QPushButton* m_Exit_c = nullptr;

    QComboBox* m_CheckTime_c = nullptr;
    QComboBox* m_DelayBeforeRetries_c = nullptr;
    QComboBox* m_NumberOfRetries_c = nullptr;
    QComboBox* m_Speaker_c = nullptr;
    QComboBox* m_TimeOut_c = nullptr;
    QComboBox* m_DialingDelay_c = nullptr;
    QLineEdit* m_MessageQueueLocation_c = nullptr;
    QLineEdit* m_txtPMFExpireDays = nullptr;
    QLineEdit* m_SystemPassword_c = nullptr;
    QListWidget* m_AvailableModems_c = nullptr;
    QLabel* m_lblModemWarning = nullptr;

    QCheckBox* m_AlertByPage_c = nullptr;
    QComboBox* m_cboTransmissionMethod = nullptr;
    QCheckBox* m_AlertByEMail_c = nullptr;
    QLineEdit* m_AlertEMailAddress_c = nullptr;
    QLineEdit* m_AlertSMTPServer_c = nullptr;
    QCheckBox* m_VisualAlert_c = nullptr;
    QCheckBox* m_AudioAlert_c = nullptr;
    QComboBox* m_AtIntervalsTime_c = nullptr;
    QCheckBox* m_PageFailAlert_c = nullptr;
    QCheckBox* m_ModemFailAlert_c = nullptr;

    QListWidget* m_ReportList_c = nullptr;
    QComboBox* m_cboReportType = nullptr;
    QComboBox* m_SortBy_c = nullptr;
    QComboBox* m_Status_c = nullptr;
    QCheckBox* m_SelectDate_c = nullptr;
    QDateEdit* m_From_c = nullptr;
    QDateEdit* m_To_c = nullptr;
    QLineEdit* m_Sender_c = nullptr;
    QLineEdit* m_Department_c = nullptr;
    QPushButton* m_SelectSender_c = nullptr;
    QPushButton* m_cmdSelectDepartment = nullptr;
    std::array<QPushButton*, 3> m_print_c{};
    QPushButton* m_PurgeDatabase_c = nullptr;

    QListWidget* m_UserList_c = nullptr;
};
