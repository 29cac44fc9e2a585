#include "MonitorCore.h"

#include "AlertMailer.h"
#include "AlertSound.h"
#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "ExpirySweep.h"
#include "Launcher.h"
#include "LogStore.h"
#include "MonitorView.h"
#include "OperatorAlerts.h"
#include "PagerOCX.h"
#include "Paths.h"
#include "PropertyBag.h"
#include "QueueFile.h"
#include "SingleCopyGuard.h"
#include "StatusListModel.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstddef>

namespace vts {

namespace {

const QString kPending = QStringLiteral("\\PENDING\\");
const QString kSent = QStringLiteral("\\SENT\\");
const QString kFailed = QStringLiteral("\\FAILED\\");
const QString kAlert = QStringLiteral("Alert");
const QString kLockName = QStringLiteral("vtsmonitor.lock");
// The pager control holds at most this many messages.
constexpr int kPagerSlots = 800;
// Queue files larger than this are refused as format errors.
constexpr qint64 kMaxQueueFileBytes = qint64{1024} * 1024;

int fieldWidth(const db::TableDef& table, const QString& field) {
    for (const auto& f : table.fields) {
        if (f.name.compare(field, Qt::CaseInsensitive) == 0) {
            return f.size;
        }
    }
    return 0;
}

// A value cut to its field's width when the field has one.
QString fitField(const db::TableDef& table, const QString& field, const QString& value) {
    const int w = fieldWidth(table, field);
    return w > 0 ? queuefile::fit(value, w) : value;
}

bool moveFile(const QString& from, const QString& to) {
    if (QFileInfo::exists(to)) {
        return false;
    }
    return QFile::rename(from, to);
}

}  // namespace

void applySavedForm(PagerOCX& pager) {
    static const PropertyBag savedForm{
        {QStringLiteral("NumberOfRetries"), 0}, {QStringLiteral("RetryDelay"), 60},
        {QStringLiteral("Timeout"), 60},        {QStringLiteral("DebugMode"), 0},
        {QStringLiteral("DialingDelay"), 2},    {QStringLiteral("WindowState"), 1},
        {QStringLiteral("VolumeLevel"), 2},     {QStringLiteral("SpeakerState"), 1},
        {QStringLiteral("GroupTimeWindow"), 5}};
    pager.ReadProperties(savedForm);
}

MonitorCore::MonitorCore(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, MonitorView& view,
                         AlertSound& sound, AlertMailer& mailer, Options options)
    : m_loop(loop),
      m_dialogs(dialogs),
      m_launcher(launcher),
      m_view(view),
      m_options(std::move(options)) {
    if (m_options.workingDir.isEmpty()) {
        m_options.workingDir = QDir::currentPath();
    }
    m_status = std::make_unique<StatusListModel>(m_loop);
    m_alerts = std::make_unique<OperatorAlerts>(m_loop, *m_status, m_view, sound, mailer);
    m_timer1 = m_loop.createTimer(1000, [this] { Timer1_Timer(); });
}

MonitorCore::~MonitorCore() {
    m_timer1->stop();
    m_alerts->cancel();
    if (m_pager) {
        m_pager->stopDispatch();
    }
}

Timer& MonitorCore::timer2() { return m_alerts->timer2(); }

void MonitorCore::AddStatus(const QString& text) { m_status->AddStatus(text); }

void MonitorCore::endProgram(int code) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_exitCode = code;
    m_timer1->stop();
    m_alerts->cancel();
    if (m_pager) {
        m_pager->stopDispatch();
    }
    emit ended(code);
}

// ---------------------------------------------------------------- start-up

bool MonitorCore::start() {
    m_guard = std::make_unique<SingleCopyGuard>(m_options.workingDir, kLockName);
    if (!m_guard->acquire()) {
        m_dialogs.show(QStringLiteral("Vantrel Server is already running"), QStringLiteral("Error"),
                       Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        m_ended = true;
        return false;
    }
    // The store check comes first, so a server started in the wrong folder
    // leaves nothing behind.
    if (!configstore::present(m_options.workingDir)) {
        configstore::showMissing(m_dialogs);
        m_guard.reset();
        m_ended = true;
        return false;
    }

    m_view.showSplash();
    m_loop.waitFor(m_options.splashMs / 1000.0);
    if (m_ended) {  // stopped while the start-up window was up
        m_view.closeSplash();
        return false;
    }
    m_view.setBusyCursor(true);
    try {
        prepareLogStore();
    } catch (const db::DbError& e) {
        m_view.setBusyCursor(false);
        m_view.closeSplash();
        m_dialogs.show(QStringLiteral("The message log cannot be created: ") + e.message(),
                       configstore::kMissingTitle, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        m_ended = true;
        return false;
    }
    m_view.setBusyCursor(false);
    m_view.closeSplash();

    try {
        m_cfgDb = configstore::open(m_options.workingDir);
        m_clients = m_cfgDb->openTable(QStringLiteral("tblClients"));
        m_logDb = logstore::open(m_options.workingDir);
        m_log = m_logDb->openTable(QStringLiteral("tblLog"));
    } catch (const db::DbError& e) {
        m_dialogs.show(QStringLiteral("The stores cannot be opened: ") + e.message(),
                       configstore::kMissingTitle, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        closeStores();
        m_ended = true;
        return false;
    }

    m_pager = std::make_unique<PagerOCX>(m_loop, m_dialogs, m_launcher, m_options.workingDir);
    applySavedForm(*m_pager);
    m_alerts->setPager(m_pager.get());
    connect(m_pager.get(), &PagerOCX::MessageSent, this, &MonitorCore::Pager1_MessageSent);
    connect(m_pager.get(), &PagerOCX::MessageCancelled, this,
            &MonitorCore::Pager1_MessageCancelled);
    connect(m_pager.get(), &PagerOCX::MessageFailed, this, &MonitorCore::Pager1_MessageFailed);

    if (!LoadConfig()) {
        return false;
    }
    LoadModems();
    if (m_ended) {
        return false;
    }
    AddStatus(QStringLiteral("Vantrel Server started"));
    // Files left in PENDING by a run that ended without its exit sequence go
    // back to the queue before the first check, as the operator's Yes would
    // have done.
    returnPendingFiles(true);
    m_timer1->setEnabled(true);
    clearTraceLogs();
    m_view.showMonitor();
    m_started = true;
    m_loop.yield();
    if (m_ended) {
        return false;
    }
    m_timer1->setEnabled(true);
    return true;
}

void MonitorCore::prepareLogStore() {
    if (!logstore::present(m_options.workingDir)) {
        m_view.setSplashLabel(QStringLiteral("Creating a new log file..."));
        logstore::create(m_options.workingDir);
    } else {
        m_view.setSplashLabel(QStringLiteral("Compacting Log..."));
        const QString old = paths::resolve(logstore::kOldName, m_options.workingDir);
        if (QFileInfo(old).isFile()) {
            QFile::remove(old);
        }
    }
}

void MonitorCore::clearTraceLogs() {
    const QStringList krx = paths::listFiles(m_options.workingDir, QStringLiteral("KRX?.log"));
    if (krx.isEmpty()) {
        return;
    }
    const QDir dir(m_options.workingDir);
    for (const QString& f : paths::listFiles(m_options.workingDir, QStringLiteral("KRXOCX?.log"))) {
        QFile::remove(dir.filePath(f));
    }
}

bool MonitorCore::LoadConfig() {
    if (!m_cfgDb || !configstore::present(m_options.workingDir)) {
        configstore::showMissing(m_dialogs);
        endProgram(1);
        return false;
    }
    try {
        auto row = m_cfgDb->openTable(QStringLiteral("tblConfig"));
        if (row->eof()) {
            AddStatus(QStringLiteral("Error: the settings row is missing from VTSCFG.MDB"));
            return true;
        }
        m_settings = ServerSettings::fromRow(*row);
    } catch (const db::DbError& e) {
        AddStatus(QStringLiteral("Error: settings cannot be read: ") + e.message());
    }
    return true;
}

void MonitorCore::LoadModems() {
    if (!m_pager) {
        return;
    }
    m_pager->ClearComPorts();
    if (!configstore::present(m_options.workingDir)) {
        configstore::showMissing(m_dialogs);
        endProgram(1);
        return;
    }
    try {
        auto modems = m_cfgDb->openTable(QStringLiteral("tblModems"));
        for (; !modems->eof(); modems->moveNext()) {
            const double n = conv::val(modems->text(QStringLiteral("ComPort")).mid(3));
            std::int16_t port = 0;
            try {
                port = conv::toInt16(n);
            } catch (const conv::OverflowError&) {
                port = 0;  // refused by the control with its own message
            }
            m_pager->AddComPort(port);
        }
    } catch (const db::DbError& e) {
        AddStatus(QStringLiteral("Error: modem list cannot be read: ") + e.message());
    }
}

void MonitorCore::ApplyPagerSettings() {
    if (!m_pager) {
        return;
    }
    const PagerSettings p = settings::pagerSettings(m_settings);
    m_pager->setNumberOfRetries(p.NumberOfRetries);
    m_pager->setRetryDelay(p.RetryDelay);
    m_pager->setSpeakerState(p.SpeakerState);
    m_pager->setVolumeLevel(p.VolumeLevel);
    m_pager->setTimeout(p.Timeout);
    m_pager->setDebugMode(p.DebugMode);
}

QString MonitorCore::queuePath(const QString& sub, const QString& name) const {
    QString q = m_settings.MessageQueueLocation;
    while (q.endsWith(QLatin1Char('\\')) || (q.size() > 1 && q.endsWith(QLatin1Char('/')))) {
        q.chop(1);
    }
    // Folders are resolved once per check (resolving lists every folder on
    // the way, which a queue of many files makes costly); names are joined
    // as they are, since they come from a listing or a log row.
    const QString key = q + QLatin1Char('|') + sub;
    auto it = m_folders.find(key);
    if (it == m_folders.end()) {
        QString folder = paths::resolve(paths::join(q, sub), m_options.workingDir);
        while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) {
            folder.chop(1);
        }
        it = m_folders.insert(key, folder);
    }
    return name.isEmpty() ? *it : *it + QLatin1Char('/') + name;
}

void MonitorCore::returnPendingFiles(bool report) {
    bool ok = false;
    const QStringList names = paths::listFiles(queuePath(kPending), QStringLiteral("*.PMF"), &ok);
    int moved = 0;
    for (const QString& f : names) {
        const QString to = queuePath(QStringLiteral("\\"), f);
        if (moveFile(queuePath(kPending, f), to)) {
            ++moved;
        } else {
            AddStatus(QStringLiteral("Error: ") + f +
                      QStringLiteral(" cannot be put back into the queue folder"));
        }
    }
    if (report && moved > 0) {
        AddStatus(QStringLiteral("Returned %1 message file(s) from the pending folder to the queue")
                      .arg(moved));
    }
}

// ------------------------------------------------------------- queue checks

void MonitorCore::Timer1_Timer() {
    if (m_checking || abandoned()) {
        return;
    }
    m_checking = true;
    check();
    m_checking = false;
    if (m_exitRequest) {
        runRequestedExit();
    }
}

void MonitorCore::check() {
    m_folders.clear();
    m_loop.yield();
    if (abandoned() || m_exitRequest) {
        return;
    }
    if (!LoadConfig()) {
        return;
    }
    const int interval = settings::checkIntervalSeconds(m_settings.CheckTime);
    m_loop.yield();
    if (abandoned() || m_exitRequest) {
        return;
    }

    const QDateTime now = m_loop.now();
    if (!m_lastCheck || EventLoop::secondsBetween(*m_lastCheck, now) > interval) {
        expirySweep();
        bool ok = false;
        const QStringList names =
            paths::listFiles(queuePath(QStringLiteral("\\")), QStringLiteral("A*.PMF"), &ok);
        if (!ok) {
            AddStatus(QStringLiteral("The folder specified for the message queue is invalid"));
        }
        if (!names.isEmpty() && !LoadConfig()) {
            return;
        }
        for (const QString& f : names) {
            m_loop.yield();
            if (abandoned() || m_exitRequest) {
                return;
            }
            // A full pager queue takes nothing more: the rest wait in the
            // queue folder for a later check.
            if (m_pager && m_pager->QueueCount() >= kPagerSlots) {
                break;
            }
            takeFile(f);
            if (abandoned()) {
                return;
            }
        }
        m_lastCheck = m_loop.now();
    }
    m_loop.yield();
}

void MonitorCore::expirySweep() {
    if (!m_sweep) {
        m_sweep = std::make_unique<ExpirySweep>([this](const QString& s) { AddStatus(s); });
    }
    m_sweep->run({queuePath(kPending), queuePath(kSent), queuePath(kFailed)},
                 m_settings.PMFExpireDays, m_loop.now());
}

bool MonitorCore::registerClient(const QStringList& header) {
    const QString& computer = header.at(1);
    if (m_clients->findFirst(QStringLiteral("ComputerName"), computer.toUpper())) {
        return true;
    }
    const db::TableDef t = configstore::clientsTable();
    m_clients->addNew();
    try {
        m_clients->setValue(QStringLiteral("ComputerName"),
                            fitField(t, QStringLiteral("ComputerName"), computer));
        m_clients->setValue(QStringLiteral("Name"),
                            fitField(t, QStringLiteral("Name"), header.at(3)));
        m_clients->setValue(QStringLiteral("Path"),
                            fitField(t, QStringLiteral("Path"), header.at(2)));
        m_clients->update();
    } catch (const db::DbError&) {
        m_clients->cancelUpdate();
        throw;
    }
    AddStatus(QStringLiteral("New client added - Computer:") + computer);
    return true;
}

void MonitorCore::takeFile(const QString& f) {
    const QString source = queuePath(QStringLiteral("\\"), f);
    bool tooLarge = false;
    const auto lines = text::readLines(source, kMaxQueueFileBytes, &tooLarge);
    if (!lines && !tooLarge) {
        return;  // cannot be opened now; tried again at the next check
    }

    std::optional<QueueMessage> msg;
    if (lines) {
        msg = queuefile::parse(*lines);
    }
    if (!msg) {
        AddStatus(QStringLiteral("Error: PMF file format error: ") + f);
        if (!moveFile(source, queuePath(kFailed, f))) {
            AddStatus(QStringLiteral("Error: ") + f +
                      QStringLiteral(" cannot be moved to the failed folder"));
        }
        return;
    }
    // A name already in the pending folder would be overwritten: the file
    // waits until that one has left.
    if (QFileInfo::exists(queuePath(kPending, f))) {
        AddStatus(QStringLiteral("Error: a file named ") + f +
                  QStringLiteral(" is already in the pending folder"));
        return;
    }

    const QStringList& h = msg->header;
    qint64 id = 0;
    try {
        registerClient(h);
        m_loop.yield();
        if (abandoned()) {
            return;
        }

        using namespace logstore;
        m_log->addNew();
        id = m_log->value(QStringLiteral("ID")).toLongLong();
        auto set = [this](const char* field, const QVariant& v) {
            m_log->setValue(QString::fromLatin1(field), v);
        };
        auto fit = [](const QString& v, int w) { return queuefile::fit(conv::trim(v), w); };
        try {
            set("Type", fit(h.at(0), kTypeWidth));
            set("Sender", fit(h.at(3), kSenderWidth));
            set("Department", fit(h.at(4), kDepartmentWidth));
            set("Recipient", fit(h.at(5), kRecipientWidth));
            set("Status", 0);
            set("StatusDescription", QStringLiteral("PENDING"));
            set("UniqueID", fit(f, kUniqueIdWidth));
            set("Message", msg->message);
            set("TAPPhoneNumber", msg->phoneNumber());
            set("TAPPIN", msg->pin());
            set("TAPPassword", fit(h.at(9), kPasswordWidth));
            set("MaximumCharacters", static_cast<qint32>(msg->maxCharacters));
            set("SentTime", msg->sentTime);
            set("COMPortSetting", fit(h.at(11), kComPortSettingWidth));
            set("ModemInitString", fit(h.at(12), kModemStringWidth));
            set("ModemDialString", fit(h.at(13), kModemStringWidth));
            set("EMailAddress", fit(h.at(14), kEMailWidth));
            set("SMTPServer", fit(h.at(15), kSmtpWidth));
            set("ReverseOrder", msg->reverseOrder);
            m_log->update();
        } catch (const db::DbError&) {
            m_log->cancelUpdate();
            throw;
        }
    } catch (const db::DbError& e) {
        // Nothing was sent; the file stays in the queue folder for a later check.
        AddStatus(QStringLiteral("Error: ") + f + QStringLiteral(" cannot be logged: ") +
                  e.message());
        return;
    }

    if (!moveFile(source, queuePath(kPending, f))) {
        AddStatus(QStringLiteral("Error: ") + f +
                  QStringLiteral(" cannot be moved to the pending folder; it was not sent"));
        return;
    }
    if (!m_pager) {
        return;
    }
    ApplyPagerSettings();
    const QString uid = QString::number(id);
    const QString method = h.at(0);
    if (method == QLatin1String("TAP")) {
        m_pager->SendMessage(msg->message, msg->phoneNumber(), msg->pin(), msg->maxCharacters, uid,
                             h.at(11), h.at(12), h.at(13));
    } else if (method == QLatin1String("UCP")) {
        AddStatus(QStringLiteral("Error: UCP not implemented yet"));
        return;
    } else {
        m_pager->SendAscii(msg->message, msg->phoneNumber(), msg->pin(), method, msg->maxCharacters,
                           uid, h.at(11), h.at(12), h.at(13));
    }
    const qint32 n = m_pager->SubmitStatus();
    if (n > 0) {
        AddStatus(QStringLiteral("Error ") + QString::number(n));
    } else {
        AddStatus(QStringLiteral("Submitted to queue: Ph#=") + h.at(7) + QStringLiteral(" PIN=") +
                  h.at(8) + QStringLiteral(" ID=") + uid);
    }
}

// ------------------------------------------------------------------ results

void MonitorCore::ChangeLogStatus(const QString& id, qint32 status) {
    if (!m_logDb) {
        return;  // the stores are closed: nothing is recorded any more
    }
    bool isNumber = false;
    const qint64 rowId = id.toLongLong(&isNumber);
    QString name;
    try {
        std::unique_ptr<db::Recordset> rs;
        if (isNumber) {
            rs = m_logDb->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), rowId);
        }
        if (!rs || rs->eof()) {
            AddStatus(QStringLiteral("Error: no log entry for message ID=") + id);
            return;
        }
        rs->edit();
        rs->setValue(QStringLiteral("Status"), status);
        rs->setValue(QStringLiteral("StatusDescription"), QString());
        rs->update();
        name = rs->text(QStringLiteral("UniqueID"));
    } catch (const db::DbError& e) {
        AddStatus(QStringLiteral("Error: the log entry of message ID=") + id +
                  QStringLiteral(" cannot be updated: ") + e.message());
        return;
    }
    m_loop.yield();

    QString target;
    if (status == 1) {
        target = kSent;
    } else if (status == 2 || status == 3) {
        target = kFailed;
    } else {
        return;
    }
    const QString from = queuePath(kPending, name);
    const QString to = queuePath(target, name);
    const QString folder = target.mid(1, target.size() - 2);
    if (name.isEmpty() || !QFileInfo::exists(from)) {
        AddStatus(QStringLiteral("Error: message file ") + name +
                  QStringLiteral(" is not in the pending folder"));
    } else if (QFileInfo::exists(to)) {
        AddStatus(QStringLiteral("Error: a file named ") + name +
                  QStringLiteral(" is already in the ") + folder + QStringLiteral(" folder"));
    } else if (!QFile::rename(from, to)) {
        AddStatus(QStringLiteral("Error: message file ") + name +
                  QStringLiteral(" cannot be moved to the ") + folder + QStringLiteral(" folder"));
    }
}

void MonitorCore::Pager1_MessageSent(const QString& UniqueID, const QString&,
                                     const QString& PhoneNumber, const QString& PIN) {
    if (abandoned()) {
        return;
    }
    if (UniqueID != kAlert) {
        ChangeLogStatus(UniqueID, 1);
    }
    AddStatus(QStringLiteral("Message sucessfully sent: Ph#=") + PhoneNumber +
              QStringLiteral(" PIN=") + PIN + QStringLiteral(" ID=") + UniqueID);
}

void MonitorCore::Pager1_MessageCancelled(const QString& UniqueID, const QString&,
                                          const QString& PhoneNumber, const QString& PIN) {
    if (abandoned()) {
        return;
    }
    AddStatus(QStringLiteral("Message cancelled during dialing: Ph#=") + PhoneNumber +
              QStringLiteral(" PIN=") + PIN + QStringLiteral(" ID=") + UniqueID);
    if (UniqueID != kAlert) {
        ChangeLogStatus(UniqueID, 3);
    }
}

void MonitorCore::Pager1_MessageFailed(const QString& UniqueID, const QString&,
                                       const QString& PhoneNumber, const QString& PIN,
                                       std::int16_t ModemErrorFlag) {
    if (abandoned()) {
        return;
    }
    if (UniqueID == kAlert) {
        AddStatus(QStringLiteral("Error message alert failed to be sent via a page"));
        return;
    }
    ChangeLogStatus(UniqueID, 2);
    AddStatus(QStringLiteral("Message failed: Ph#=") + PhoneNumber + QStringLiteral(" PIN=") + PIN +
              QStringLiteral(" ID=") + UniqueID);
    if (abandoned()) {
        return;
    }
    m_alerts->raise(m_settings, UniqueID, PhoneNumber, PIN, ModemErrorFlag);
}

// ------------------------------------------------------- buttons and exit

void MonitorCore::ClearEvents_c_Click() { m_status->clear(); }

void MonitorCore::Command1_Click() { m_alerts->cancel(); }

void MonitorCore::Configure_c_Click() {
    if (abandoned()) {
        return;
    }
    m_timer1->setEnabled(false);
    Launcher::Request r;
    r.folder = m_options.programDir;
    r.program = QStringLiteral("VTSCONFIG.EXE");
    r.workingDirectory = m_options.workingDir;
    QString error;
    if (!m_launcher.start(r, &error)) {
        AddStatus(QStringLiteral("Error: VTSCONFIG.EXE cannot be started: ") + error);
    }
    m_timer1->setEnabled(true);
}

bool MonitorCore::Shutdown_c_Click() {
    m_timer1->setEnabled(false);
    return Form_Unload(true);
}

void MonitorCore::runRequestedExit() {
    const bool ask = *m_exitRequest;
    m_exitRequest.reset();
    Form_Unload(ask);
}

bool MonitorCore::Form_Unload(bool askOperator) {
    if (m_ended) {
        return true;
    }
    if (m_unloading) {
        return false;
    }
    if (!m_started) {
        // Stopped during start-up: nothing is open or pending yet.
        m_ended = true;
        m_exitCode = 0;
        if (m_pager) {
            m_pager->stopDispatch();
        }
        emit ended(0);
        return true;
    }
    if (m_checking) {
        // The check stops at its next yield and the exit runs after it.
        if (!m_exitRequest || !askOperator) {
            m_exitRequest = askOperator;
        }
        return false;
    }
    m_unloading = true;
    m_timer1->setEnabled(false);

    bool ok = false;
    const bool pending =
        !paths::listFiles(queuePath(kPending), QStringLiteral("*.PMF"), &ok).isEmpty();
    if (pending) {
        const bool yes =
            !askOperator ||
            m_dialogs.show(kPendingQuestion, QStringLiteral("Warning!"), Dialogs::Icon::None,
                           Dialogs::Buttons::YesNo) == Dialogs::Answer::Yes;
        if (m_ended) {
            return true;
        }
        if (!yes) {
            m_timer1->setEnabled(true);
            m_unloading = false;
            return false;
        }
        returnPendingFiles(false);
    }
    // Dispatch and the alert sound stop before the stores close, so no result
    // can reach a closed store.
    if (m_pager) {
        m_pager->stopDispatch();
    }
    m_alerts->cancel();
    closeStores();
    m_closed = true;

    m_view.showShutdownNotice();
    m_loop.waitFor(m_options.shutdownNoticeMs / 1000.0);
    m_view.closeShutdownNotice();
    m_ended = true;
    m_exitCode = 0;
    m_guard.reset();
    emit ended(0);
    return true;
}

void MonitorCore::closeStores() {
    m_clients.reset();
    m_log.reset();
    if (m_cfgDb) {
        m_cfgDb->close();
    }
    if (m_logDb) {
        m_logDb->close();
    }
    m_cfgDb.reset();
    m_logDb.reset();
}

}  // namespace vts
