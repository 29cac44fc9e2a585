#include "frmMain.h"

#include "FormScale.h"

#include "ClientDialog.h"
#include "ClientList.h"
#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "LogStore.h"
#include "ModemList.h"
#include "ReportsPageActions.h"
#include "frmBrowseForQueue.h"
#include "frmConfigLogin.h"
#include "frmDirectDial.h"
#include "frmNewPort.h"
#include "frmPendingFilesStatus.h"
#include "frmSMTP.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace vts::form;
using vts::Dialogs;
namespace settings = vts::settings;

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kLightGrey(0xC0, 0xC0, 0xC0);
const QString kErrorTitle = QStringLiteral("Error");

void colour(QPushButton* b, const QColor& c) {
    QPalette p = b->palette();
    p.setColor(QPalette::Button, c);
    b->setPalette(p);
    b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #808080;"
                                    " padding: 2px; }")
                         .arg(c.name()));
}

void fill(QComboBox* box, const QStringList& entries) {
    box->clear();
    box->addItems(entries);
    box->setCurrentIndex(0);
}

QComboBox* combo(QWidget* parent, const QString& name, const QString& caption, int y) {
    label(parent, caption, 12, y + 2, 192);
    auto* box = make<QComboBox>(parent, name, 206, y, 130, 24);
    return box;
}

int widthOf(const QString& field) {
    for (const auto& f : vts::configstore::configTable().fields)
        if (f.name.compare(field, Qt::CaseInsensitive) == 0 && f.type == vts::db::FieldType::Text &&
            f.size > 0)
            return f.size;
    return 255;
}

}  // namespace

frmMain::frmMain(const vts::ConfigContext& context, QWidget* parent)
    : QWidget(parent), m_ctx(context) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vantrel Server 3.0"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    const QStringList captions = {QStringLiteral("Server Setup"), QStringLiteral("Alerts"),
                                  QStringLiteral("Reports"), QStringLiteral("Configure Client")};
    const QStringList frames = {
        QStringLiteral("FrameSetup_c"), QStringLiteral("FrameAlertPaging_c"),
        QStringLiteral("FrameReports_c"), QStringLiteral("FrameConfigureClient_c")};
    for (int i = 0; i < 4; ++i) {
        auto* b = button(this, QStringLiteral("SwitchFrame_c_%1").arg(i + 1), captions.at(i),
                         4 + i * 115, 4, 112, 26);
        connect(b, &QPushButton::clicked, this, [this, i] { SwitchFrame_c_Click(i + 1); });
        m_SwitchFrame_c[static_cast<size_t>(i)] = b;
        auto* f = make<QFrame>(this, frames.at(i), 0, twips(495), twips(9075), twips(6330 - 495));
        f->setFrameShape(QFrame::NoFrame);
        m_frames[static_cast<size_t>(i)] = f;
    }
    m_Exit_c = button(this, QStringLiteral("Exit_c"), QStringLiteral("Exit Configuration"), 470, 4,
                      131, 26);
    connect(m_Exit_c, &QPushButton::clicked, this, &frmMain::Exit_c_Click);

    buildSetupPage(m_frames[0]);
    buildAlertsPage(m_frames[1]);
    buildReportsPage(m_frames[2]);
    buildClientsPage(m_frames[3]);

    // Both dialogs belong to the main window, so they stay above it.
    m_directDial = std::make_unique<frmDirectDial>(*m_ctx.dialogs, this);
    m_smtp = std::make_unique<frmSMTP>(this);
    for (QLineEdit* box : {m_directDial->AlertPIN_c(), m_directDial->AlertAlphaPhoneNumber_c(),
                           m_directDial->AlertPagePassword_c(), m_smtp->AlertPagerEMailAddress_c()})
        box->setMaxLength(widthOf(box->objectName().chopped(2)));
    m_smtp->AlertSMTPServer_c()->setMaxLength(widthOf(QStringLiteral("AlertSMTPServer")));
    setFixedSize(twips(9075), twips(6330));
    vts::form::scaleToFont(this);
}

frmMain::~frmMain() = default;

void frmMain::buildSetupPage(QFrame* page) {
    auto* heading = label(page, QStringLiteral("Setup Options"), 12, 4, 200);
    heading->setStyleSheet(QStringLiteral("font-weight: bold;"));
    m_CheckTime_c =
        combo(page, QStringLiteral("CheckTime_c"), QStringLiteral("Check message queue every"), 28);
    m_DelayBeforeRetries_c = combo(page, QStringLiteral("DelayBeforeRetries_c"),
                                   QStringLiteral("Delay before retry"), 58);
    m_NumberOfRetries_c =
        combo(page, QStringLiteral("NumberOfRetries_c"), QStringLiteral("Number of retries"), 88);
    m_Speaker_c =
        combo(page, QStringLiteral("Speaker_c"), QStringLiteral("Modem Speaker Setting"), 118);
    m_TimeOut_c = combo(page, QStringLiteral("TimeOut_c"), QStringLiteral("Time out"), 148);
    m_DialingDelay_c = combo(page, QStringLiteral("DialingDelay_c"),
                             QStringLiteral("Delay between modem dialing"), 178);

    label(page, QStringLiteral("Message Queue Location"), 12, 214, 200);
    m_MessageQueueLocation_c =
        make<QLineEdit>(page, QStringLiteral("MessageQueueLocation_c"), 12, 236, 300, 24);
    m_MessageQueueLocation_c->setMaxLength(widthOf(QStringLiteral("MessageQueueLocation")));
    auto* browse = button(page, QStringLiteral("Command1"), QStringLiteral("Browse"), 318, 235, 70);
    connect(browse, &QPushButton::clicked, this, &frmMain::Command1_Click);

    label(page, QStringLiteral("Message file expire days"), 12, 274, 192);
    m_txtPMFExpireDays =
        make<QLineEdit>(page, QStringLiteral("txtPMFExpireDays"), 206, 272, 60, 24);
    m_txtPMFExpireDays->setMaxLength(10);

    m_SystemPassword_c = make<QLineEdit>(page, QStringLiteral("SystemPassword_c"), 0, 0, 10, 10);
    m_SystemPassword_c->setVisible(false);
    m_SystemPassword_c->setMaxLength(widthOf(QStringLiteral("SystemPassword")));

    auto* login = button(page, QStringLiteral("ChangePassword_c"),
                         QStringLiteral("Configure Login"), 12, 316, 140);
    connect(login, &QPushButton::clicked, this, &frmMain::ChangePassword_c_Click);
    auto* pending = button(page, QStringLiteral("cmdPendingFilesStatus"),
                           QStringLiteral("Pending Files Status"), 162, 316, 160);
    connect(pending, &QPushButton::clicked, this, &frmMain::cmdPendingFilesStatus_Click);

    label(page, QStringLiteral("Available Modems"), 400, 28, 190);
    m_AvailableModems_c =
        make<QListWidget>(page, QStringLiteral("AvailableModems_c"), 400, 50, 110, 180);
    auto* add = button(page, QStringLiteral("Command2"), QStringLiteral("Add"), 518, 50, 78);
    auto* remove = button(page, QStringLiteral("Command3"), QStringLiteral("Remove"), 518, 84, 78);
    connect(add, &QPushButton::clicked, this, &frmMain::Command2_Click);
    connect(remove, &QPushButton::clicked, this, &frmMain::Command3_Click);
    m_lblModemWarning =
        label(page, QString(), 400, 236, 196, 146, QStringLiteral("lblModemWarning"));
    m_lblModemWarning->setWordWrap(true);
    m_lblModemWarning->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_lblModemWarning->setStyleSheet(QStringLiteral("color: #C00000;"));
}

void frmMain::buildAlertsPage(QFrame* page) {
    auto* remote = make<QGroupBox>(page, QStringLiteral("FrameRemoteAlert"), 8, 4, 589, 200);
    remote->setTitle(QStringLiteral("Remote Alert Criteria"));
    m_AlertByPage_c = make<QCheckBox>(remote, QStringLiteral("AlertByPage_c"), 12, 26, 210, 22);
    m_AlertByPage_c->setText(QStringLiteral("Remote Alert - Send a page"));
    label(remote, QStringLiteral("Transmission method"), 228, 28, 130);
    m_cboTransmissionMethod =
        make<QComboBox>(remote, QStringLiteral("cboTransmissionMethod"), 360, 25, 120, 24);
    m_cboTransmissionMethod->addItems({QStringLiteral("Direct Dial"), QStringLiteral("Internet")});
    m_cboTransmissionMethod->setCurrentIndex(-1);
    connect(m_cboTransmissionMethod, &QComboBox::activated, this,
            &frmMain::cboTransmissionMethod_Click);
    auto* configure =
        button(remote, QStringLiteral("cmdConfigure"), QStringLiteral("Configure"), 490, 24, 86);
    connect(configure, &QPushButton::clicked, this, &frmMain::cmdConfigure_Click);

    m_AlertByEMail_c = make<QCheckBox>(remote, QStringLiteral("AlertByEMail_c"), 12, 62, 210, 22);
    m_AlertByEMail_c->setText(QStringLiteral("Remote Alert - Send e-mail"));
    label(remote, QStringLiteral("E-Mail address"), 32, 96, 150);
    m_AlertEMailAddress_c =
        make<QLineEdit>(remote, QStringLiteral("AlertEMailAddress_c"), 190, 94, 290, 24);
    m_AlertEMailAddress_c->setMaxLength(widthOf(QStringLiteral("AlertEMailAddress")));
    label(remote, QStringLiteral("SMTP server address"), 32, 128, 150);
    m_AlertSMTPServer_c =
        make<QLineEdit>(remote, QStringLiteral("AlertSMTPServer_c"), 190, 126, 290, 24);
    m_AlertSMTPServer_c->setMaxLength(widthOf(QStringLiteral("AlertSMTPServer")));
    m_PageFailAlert_c =
        make<QCheckBox>(remote, QStringLiteral("PageFailAlert_c"), 12, 164, 260, 22);
    m_PageFailAlert_c->setText(QStringLiteral("Send an alert if a page fails"));
    m_ModemFailAlert_c =
        make<QCheckBox>(remote, QStringLiteral("ModemFailAlert_c"), 290, 164, 270, 22);
    m_ModemFailAlert_c->setText(QStringLiteral("Send an alert if a modem fails"));

    auto* local = make<QGroupBox>(page, QStringLiteral("FrameLocalAlert"), 8, 214, 589, 100);
    local->setTitle(QStringLiteral("Local Alert Options"));
    m_VisualAlert_c = make<QCheckBox>(local, QStringLiteral("VisualAlert_c"), 12, 26, 200, 22);
    m_VisualAlert_c->setText(QStringLiteral("Visual Alert"));
    m_AudioAlert_c = make<QCheckBox>(local, QStringLiteral("AudioAlert_c"), 12, 60, 120, 22);
    m_AudioAlert_c->setText(QStringLiteral("Audio Alert"));
    m_AtIntervalsTime_c =
        make<QComboBox>(local, QStringLiteral("AtIntervalsTime_c"), 140, 58, 140, 24);
}

void frmMain::buildReportsPage(QFrame* page) {
    m_ReportList_c = make<QListWidget>(page, QStringLiteral("ReportList_c"), 8, 8, 186, 110);
    label(page, QStringLiteral("Report type"), 8, 126, 186);
    m_cboReportType = make<QComboBox>(page, QStringLiteral("cboReportType"), 8, 146, 186, 24);
    label(page, QStringLiteral("Sort order"), 8, 178, 186);
    m_SortBy_c = make<QComboBox>(page, QStringLiteral("SortBy_c"), 8, 198, 186, 24);

    auto* criteria = make<QGroupBox>(page, QStringLiteral("FrameReportCriteria"), 204, 4, 393, 236);
    criteria->setTitle(QStringLiteral("Report Criteria"));
    m_Status_c = make<QComboBox>(criteria, QStringLiteral("Status_c"), 12, 26, 200, 24);
    m_SelectDate_c = make<QCheckBox>(criteria, QStringLiteral("SelectDate_c"), 12, 62, 200, 22);
    m_SelectDate_c->setText(QStringLiteral("Select date range"));
    label(criteria, QStringLiteral("From"), 12, 96, 40);
    m_From_c = make<QDateEdit>(criteria, QStringLiteral("From_c"), 52, 94, 130, 24);
    label(criteria, QStringLiteral("to"), 192, 96, 20);
    m_To_c = make<QDateEdit>(criteria, QStringLiteral("To_c"), 214, 94, 130, 24);
    for (QDateEdit* d : {m_From_c, m_To_c}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("M/d/yyyy"));
        d->setDate(QDate::currentDate());
    }
    label(criteria, QStringLiteral("Sender Name"), 12, 134, 120);
    m_Sender_c = make<QLineEdit>(criteria, QStringLiteral("Sender_c"), 130, 132, 118, 24);
    m_Sender_c->setMaxLength(vts::logstore::kSenderWidth);
    m_SelectSender_c = button(criteria, QStringLiteral("SelectSender_c"),
                              QStringLiteral("Select Sender"), 254, 131, 130);
    label(criteria, QStringLiteral("Department Name"), 12, 170, 120);
    m_Department_c = make<QLineEdit>(criteria, QStringLiteral("Department_c"), 130, 168, 118, 24);
    m_Department_c->setMaxLength(vts::logstore::kDepartmentWidth);
    m_cmdSelectDepartment = button(criteria, QStringLiteral("cmdSelectDepartment"),
                                   QStringLiteral("Select Department"), 254, 167, 130);
    connect(m_SelectSender_c, &QPushButton::clicked, this, &frmMain::SelectSender_c_Click);
    connect(m_cmdSelectDepartment, &QPushButton::clicked, this,
            &frmMain::cmdSelectDepartment_Click);

    const QStringList labels = {QStringLiteral("View"), QStringLiteral("Save"),
                                QStringLiteral("Print")};
    for (int i = 0; i < 3; ++i) {
        auto* b = button(page, QStringLiteral("print_c_%1").arg(i), labels.at(i), 204 + i * 100,
                         256, 90, 30);
        connect(b, &QPushButton::clicked, this, [this, i] { print_c_Click(i); });
        m_print_c[static_cast<size_t>(i)] = b;
    }
    m_PurgeDatabase_c = button(page, QStringLiteral("PurgeDatabase_c"),
                               QStringLiteral("Purge Database"), 8, 256, 186, 30);
    connect(m_PurgeDatabase_c, &QPushButton::clicked, this, &frmMain::PurgeDatabase_c_Click);
}

void frmMain::buildClientsPage(QFrame* page) {
    label(page, QStringLiteral("User Name"), 10, 8, 200);
    label(page, QStringLiteral("Computer Name"), 250, 8, 200);
    m_UserList_c = make<QListWidget>(page, QStringLiteral("UserList_c"), 8, 30, 464, 320);
    QFont fixed(QStringLiteral("Courier New"));
    fixed.setStyleHint(QFont::Monospace);
    m_UserList_c->setFont(fixed);
    connect(m_UserList_c, &QListWidget::itemDoubleClicked, this, [this] { EditClient_c_Click(); });
    const QStringList names = {QStringLiteral("AddClient_c"), QStringLiteral("EditClient_c"),
                               QStringLiteral("Remove_c"), QStringLiteral("Configure_c")};
    const QStringList captions = {QStringLiteral("Add"), QStringLiteral("Edit"),
                                  QStringLiteral("Remove"), QStringLiteral("Configure")};
    const std::array<void (frmMain::*)(), 4> handlers = {
        &frmMain::AddClient_c_Click, &frmMain::EditClient_c_Click, &frmMain::Remove_c_Click,
        &frmMain::Configure_c_Click};
    for (int i = 0; i < 4; ++i) {
        auto* b = button(page, names.at(i), captions.at(i), 484, 30 + i * 42, 112, 34);
        connect(b, &QPushButton::clicked, this, handlers.at(static_cast<size_t>(i)));
    }
}

bool frmMain::Form_Load() {
    fill(m_Status_c, {QStringLiteral("All Messages"), QStringLiteral("Successful Messages"),
                      QStringLiteral("Failed Messages"), QStringLiteral("Cancelled Messages")});
    fill(m_CheckTime_c,
         {QStringLiteral("Continuously"), QStringLiteral("1 Minute"), QStringLiteral("5 Minute"),
          QStringLiteral("10 Minute"), QStringLiteral("15 Minute"), QStringLiteral("30 Minute"),
          QStringLiteral("1 Hour"), QStringLiteral("1 Day")});
    m_ReportList_c->clear();
    m_ReportList_c->addItem(QStringLiteral("Message Log Report"));
    m_ReportList_c->setCurrentRow(0);
    fill(m_DialingDelay_c,
         {QStringLiteral("No Delay"), QStringLiteral("1 Second"), QStringLiteral("5 Seconds"),
          QStringLiteral("10 Seconds"), QStringLiteral("30 Seconds"), QStringLiteral("1 Minute")});
    fill(m_AtIntervalsTime_c, {QStringLiteral("Only Once"), QStringLiteral("Continuously"),
                               QStringLiteral("Every Minute")});
    fill(m_DelayBeforeRetries_c,
         {QStringLiteral("No Delay"), QStringLiteral("1 Second"), QStringLiteral("10 Seconds"),
          QStringLiteral("30 Seconds"), QStringLiteral("1 Minute")});
    QStringList retries;
    for (int i = 0; i <= 10; ++i) retries << QString::number(i);
    fill(m_NumberOfRetries_c, retries);
    fill(m_Speaker_c, {QStringLiteral("Off"), QStringLiteral("Low Volume"),
                       QStringLiteral("Medium Volume"), QStringLiteral("High Volume")});
    fill(m_TimeOut_c,
         {QStringLiteral("5 Seconds"), QStringLiteral("15 Seconds"), QStringLiteral("30 Seconds"),
          QStringLiteral("60 Seconds"), QStringLiteral("120 Seconds")});
    fill(m_SortBy_c, {QStringLiteral("Sort By Date"), QStringLiteral("Sort By Sender"),
                      QStringLiteral("Sort By Recipient"), QStringLiteral("Sort By TAP Number"),
                      QStringLiteral("Sort By Department")});
    fill(m_cboReportType,
         {QStringLiteral("Normal"), QStringLiteral("Full Text"), QStringLiteral("Summary")});

    if (!LoadClientList()) return false;

    for (size_t i = 0; i < m_frames.size(); ++i) m_frames[i]->setVisible(i == 0);
    for (size_t i = 0; i < m_SwitchFrame_c.size(); ++i)
        colour(m_SwitchFrame_c[i], i == 0 ? kWhite : kLightGrey);

    if (!LoadConfig()) return false;
    return LoadModems();
}

bool frmMain::checkStore() {
    if (m_ended) return false;
    if (vts::configstore::present(m_ctx.workDir)) return true;
    vts::configstore::showMissing(*m_ctx.dialogs);
    m_ended = true;
    if (m_ctx.endProgram) m_ctx.endProgram();
    return false;
}

void frmMain::storeError(const QString& message) {
    m_ctx.dialogs->message(message, kErrorTitle, Dialogs::Icon::Critical);
}

std::vector<std::pair<QString, QWidget*>> frmMain::bindings() const {
    return {
        {QStringLiteral("CheckTime"), m_CheckTime_c},
        {QStringLiteral("DialingDelay"), m_DialingDelay_c},
        {QStringLiteral("DelayBeforeRetries"), m_DelayBeforeRetries_c},
        {QStringLiteral("NumberOfRetries"), m_NumberOfRetries_c},
        {QStringLiteral("SystemPassword"), m_SystemPassword_c},
        {QStringLiteral("MessageQueueLocation"), m_MessageQueueLocation_c},
        {QStringLiteral("AlertByPage"), m_AlertByPage_c},
        {QStringLiteral("AlertPIN"), m_directDial->AlertPIN_c()},
        {QStringLiteral("AlertAlphaPhoneNumber"), m_directDial->AlertAlphaPhoneNumber_c()},
        {QStringLiteral("ALertByEMail"), m_AlertByEMail_c},
        {QStringLiteral("AlertEMailAddress"), m_AlertEMailAddress_c},
        {QStringLiteral("AlertSMTPServer"), m_AlertSMTPServer_c},
        {QStringLiteral("AlertPagePassword"), m_directDial->AlertPagePassword_c()},
        {QStringLiteral("AlertPagerEMailAddress"), m_smtp->AlertPagerEMailAddress_c()},
        {QStringLiteral("VisualAlert"), m_VisualAlert_c},
        {QStringLiteral("AudioAlert"), m_AudioAlert_c},
        {QStringLiteral("AtIntervalsTime"), m_AtIntervalsTime_c},
        {QStringLiteral("Speaker"), m_Speaker_c},
        {QStringLiteral("TimeOut"), m_TimeOut_c},
        {QStringLiteral("PageFailAlert"), m_PageFailAlert_c},
        {QStringLiteral("ModemFailAlert"), m_ModemFailAlert_c},
        {QStringLiteral("PMFExpireDays"), m_txtPMFExpireDays},
    };
}

bool frmMain::LoadConfig() {
    if (!checkStore()) return false;
    try {
        m_loaded = settings::load(m_ctx.workDir);
    } catch (const vts::db::DbError& e) {
        // Going on with the defaults would overwrite the stored row on exit.
        storeError(e.message());
        m_ended = true;
        if (m_ctx.endProgram) m_ctx.endProgram();
        return false;
    }
    for (const auto& [field, control] : bindings()) {
        const QVariant v = m_loaded.value(field);
        if (auto* box = qobject_cast<QComboBox*>(control)) {
            const int pos = v.toInt();
            box->setCurrentIndex(pos >= 0 && pos < box->count() ? pos : -1);
        } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
            check->setChecked(v.toBool());
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->setText(v.toString());
        }
    }
    return true;
}

bool frmMain::SaveConfig() {
    if (!checkStore()) return false;
    settings::Values values;
    for (const auto& [field, control] : bindings()) {
        if (auto* box = qobject_cast<QComboBox*>(control))
            values.insert(field, settings::choiceToStore(m_loaded.value(field, -1).toInt(),
                                                         box->currentIndex()));
        else if (auto* check = qobject_cast<QCheckBox*>(control))
            values.insert(field, check->isChecked());
        else if (auto* edit = qobject_cast<QLineEdit*>(control))
            values.insert(field, edit->text());
    }
    try {
        const QStringList refused = settings::save(m_ctx.workDir, values);
        if (!refused.isEmpty())
            m_ctx.dialogs->message(
                settings::numberProblem(QStringLiteral("Message file expire days"),
                                        m_txtPMFExpireDays->text()),
                QStringLiteral("Warning"), Dialogs::Icon::Exclamation);
    } catch (const vts::db::DbError& e) {
        storeError(QStringLiteral("The settings could not be saved: ") + e.message());
        return false;
    }
    return true;
}

bool frmMain::LoadModems() {
    m_AvailableModems_c->clear();
    m_lblModemWarning->clear();
    if (!checkStore()) return false;
    try {
        const QStringList ports = vts::modems::load(m_ctx.workDir);
        m_AvailableModems_c->addItems(ports);
        m_lblModemWarning->setText(vts::modems::serverWarning(ports));
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
    return true;
}

bool frmMain::LoadClientList() {
    if (!checkStore()) {
        m_UserList_c->clear();
        return false;
    }
    try {
        const auto entries = vts::clients::load(m_ctx.workDir);
        m_UserList_c->clear();
        for (const auto& e : entries) {
            auto* item = new QListWidgetItem(e.name, m_UserList_c);
            item->setData(Qt::UserRole, e.id);
        }
        m_UserList_c->setCurrentRow(-1);
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
    return true;
}

void frmMain::setReportsActions(std::unique_ptr<vts::ReportsPageActions> actions) {
    m_reports = std::move(actions);
}

void frmMain::SwitchFrame_c_Click(int index) {
    if (index < 1 || index > 4) return;
    for (size_t i = 0; i < 4; ++i) {
        const bool shown = static_cast<int>(i) == index - 1;
        m_frames[i]->setVisible(shown);
        colour(m_SwitchFrame_c[i], shown ? kWhite : kLightGrey);
    }
}

bool frmMain::leave() {
    if (m_ended) return true;
    if (!SaveConfig() && !m_ended) {
        if (!m_ctx.dialogs->askYesNo(QStringLiteral("Leave without saving the settings?"),
                                     QStringLiteral("Warning!!!"), Dialogs::Icon::Exclamation))
            return false;
    }
    if (!m_ended) {
        m_ended = true;
        if (m_ctx.endProgram) m_ctx.endProgram();
    }
    return true;
}

void frmMain::Exit_c_Click() {
    if (leave()) hide();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (leave())
        event->accept();
    else
        event->ignore();
}

void frmMain::Command1_Click() {
    frmBrowseForQueue picker(m_ctx, this);
    picker.exec();
    if (!picker.result().isEmpty()) m_MessageQueueLocation_c->setText(picker.result());
}

void frmMain::Command2_Click() {
    {
        frmNewPort dialog(m_ctx, this);
        dialog.exec();
    }
    LoadModems();
}

void frmMain::Command3_Click() {
    if (m_AvailableModems_c->currentRow() < 0) return;
    try {
        vts::modems::remove(m_ctx.workDir, m_AvailableModems_c->currentItem()->text());
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
    LoadModems();
}

void frmMain::cmdPendingFilesStatus_Click() {
    if (m_MessageQueueLocation_c->text().isEmpty()) {
        m_ctx.dialogs->message(QStringLiteral("Message Queue Location cannot be blank."),
                               kErrorTitle, Dialogs::Icon::Critical);
        return;
    }
    frmPendingFilesStatus status(m_ctx, m_MessageQueueLocation_c->text(), this);
    status.exec();
}

void frmMain::ChangePassword_c_Click() {
    {
        frmConfigLogin dialog(m_ctx, *this);
        dialog.exec();
    }
    if (!m_ConfigLoginCancelled) SaveConfig();
}

void frmMain::showTransmissionDialog(const QString& method) {
    if (method == QLatin1String("Direct Dial")) {
        m_directDial->exec();
    } else if (method == QLatin1String("Internet")) {
        m_smtp->AlertSMTPServer_c()->setText(m_AlertSMTPServer_c->text());
        m_smtp->exec();
    }
}

void frmMain::cboTransmissionMethod_Click() {
    showTransmissionDialog(m_cboTransmissionMethod->currentText());
}

void frmMain::cmdConfigure_Click() {
    if (m_cboTransmissionMethod->currentText().isEmpty()) {
        m_ctx.dialogs->message(QStringLiteral("Please select Direct Dial or Internet."));
        return;
    }
    showTransmissionDialog(m_cboTransmissionMethod->currentText());
}

qint64 frmMain::selectedClientId() const {
    if (m_UserList_c->currentRow() < 0 || !m_UserList_c->currentItem()) return -1;
    return m_UserList_c->currentItem()->data(Qt::UserRole).toLongLong();
}

void frmMain::AddClient_c_Click() {
    {
        frmAddClient dialog(m_ctx, this);
        dialog.exec();
    }
    LoadClientList();
}

void frmMain::EditClient_c_Click() {
    if (selectedClientId() < 0) return;
    frmEditClient dialog(m_ctx, *this);
    dialog.exec();
}

void frmMain::Remove_c_Click() {
    const qint64 id = selectedClientId();
    if (id < 0) return;
    if (!m_ctx.dialogs->askYesNo(vts::clients::kRemoveText, vts::clients::kRemoveTitle)) return;
    try {
        vts::clients::remove(m_ctx.workDir, id);
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
        return;
    }
    LoadClientList();
}

void frmMain::Configure_c_Click() {
    const qint64 id = selectedClientId();
    if (id < 0) return;
    try {
        const auto client = vts::clients::find(m_ctx.workDir, id);
        if (!client) return;
        const QString folder = vts::clients::folderToOpen(client->path, m_ctx.workDir);
        if (folder.isEmpty()) {
            storeError(QStringLiteral("The folder %1 cannot be found.")
                           .arg(vts::conv::trim(client->path)));
            return;
        }
        if (!m_ctx.openFolder || !m_ctx.openFolder(folder))
            storeError(QStringLiteral("The folder %1 could not be opened.").arg(folder));
    } catch (const vts::db::DbError& e) {
        storeError(e.message());
    }
}

void frmMain::print_c_Click(int index) {
    if (m_reports) m_reports->print_c_Click(index);
}

void frmMain::SelectSender_c_Click() {
    if (m_reports) m_reports->SelectSender_c_Click();
}

void frmMain::cmdSelectDepartment_Click() {
    if (m_reports) m_reports->cmdSelectDepartment_Click();
}

void frmMain::PurgeDatabase_c_Click() {
    if (m_reports) m_reports->PurgeDatabase_c_Click();
}
