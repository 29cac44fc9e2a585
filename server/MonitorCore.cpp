#include "MonitorCore.h"

#include "AlertMailer.h"
#include "AlertSound.h"
#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "ExpirySweep.h"
#include "FilePages.h"
#include "Launcher.h"
#include "LogStore.h"
#include "MonitorView.h"
#include "OperatorAlerts.h"
#include "PagerOCX.h"
#include "Paths.h"
#include "PortRecord.h"
#include "PortRecovery.h"
#include "PropertyBag.h"
#include "QueueEntries.h"
#include "QueueFile.h"
#include "ResultJournal.h"
#include "RowEdit.h"
#include "SingleCopyGuard.h"
#include "StatusConditions.h"
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
constexpr double kJournalRetrySeconds = 30;

bool moveFile(const QString& from, const QString& to) { return queueentries::move(from, to); }

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
    m_conditions = std::make_unique<StatusConditions>(
        m_loop, [this](const QString& text) { AddStatus(text); });
    m_journal = std::make_unique<ResultJournal>(m_options.workingDir);
    m_scanner = std::make_unique<QueueScanner>(
        m_loop, *m_conditions, static_cast<QueueScanner::Host&>(*this), m_options.workingDir);
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
        m_dialogs.show(m_guard->refusalText(QStringLiteral("Vantrel Server is already running"),
                                            QStringLiteral("Vantrel Server")),
                       QStringLiteral("Error"), Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
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

    // Before the pager control clears the port files: what they say about
    // the messages of a run that ended without its exit sequence.
    const std::vector<PortRecord> leftOver = readLeftOverResults();
    if (m_ended) {
        closeStores();
        return false;
    }

    m_pager = std::make_unique<PagerOCX>(m_loop, m_dialogs, m_launcher, m_options.workingDir);
    connect(m_pager.get(), &PagerOCX::notice, this, &MonitorCore::AddStatus);
    applySavedForm(*m_pager);
    m_alerts->setPager(m_pager.get());
    m_scanner->attach(m_clients.get(), m_log.get(), m_pager.get());
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
    // Results the log could not take in an earlier run, then the outcomes
    // the port files hold; only files whose outcome is still unknown go back
    // to the queue before the first check, as the operator's Yes would have
    // done.
    m_journal->load();
    applyJournal();
    applyLeftOverResults(leftOver);
    if (m_ended) {
        return false;
    }
    filepages::clearAll(m_options.workingDir);
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
            m_conditions->raise(
                QStringLiteral("settings-row"),
                QStringLiteral("Error: the settings row is missing from VTSCFG.MDB"),
                QStringLiteral("The settings row of VTSCFG.MDB is back"));
            return true;
        }
        m_settings = ServerSettings::fromRow(*row);
        m_conditions->clear(QStringLiteral("settings-row"));
        m_conditions->clear(QStringLiteral("settings-read"));
    } catch (const db::DbError& e) {
        m_conditions->raise(QStringLiteral("settings-read"),
                            QStringLiteral("Error: settings cannot be read: ") + e.message(),
                            QStringLiteral("The settings can be read again"));
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
        if (m_journal->holdsFile(f)) {
            continue;  // its result is known; it waits for the log, not for a new send
        }
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

    // A log that takes no writes makes every attempt wait for the store's
    // busy time, so kept results are retried only every so often.
    if (!m_journal->isEmpty() &&
        (!m_journalTried ||
         EventLoop::secondsBetween(*m_journalTried, m_loop.now()) >= kJournalRetrySeconds)) {
        applyJournal();
        if (abandoned()) {
            return;
        }
    }

    const QDateTime now = m_loop.now();
    if (!m_lastCheck || EventLoop::secondsBetween(*m_lastCheck, now) > interval) {
        expirySweep();
        if (!m_scanner->scan()) {
            return;
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

void MonitorCore::messageFailed(const QString& id, const QueueMessage& message) {
    Pager1_MessageFailed(id, message.message, message.phoneNumber(), message.pin(), 0);
}

// ------------------------------------------------------------------ results

MonitorCore::RowUpdate MonitorCore::updateLogRow(qint64 rowId, qint32 status, QString* name,
                                                 QString* error) {
    try {
        auto rs = m_logDb->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), rowId);
        if (!rs || rs->eof()) {
            return RowUpdate::NoRow;
        }
        *name = rs->text(QStringLiteral("UniqueID"));
        db::RowEdit row(*rs, db::RowEdit::Mode::Edit);
        row.set(QStringLiteral("Status"), status);
        row.set(QStringLiteral("StatusDescription"), QString());
        row.commit();
    } catch (const db::DbError& e) {
        *error = e.message();
        return RowUpdate::StoreError;
    }
    return RowUpdate::Done;
}

void MonitorCore::ChangeLogStatus(const QString& id, qint32 status) {
    if (!m_logDb) {
        return;  // the stores are closed: nothing is recorded any more
    }
    bool isNumber = false;
    const qint64 rowId = id.toLongLong(&isNumber);
    QString name, error;
    const RowUpdate r =
        isNumber && rowId > 0 ? updateLogRow(rowId, status, &name, &error) : RowUpdate::NoRow;
    if (r == RowUpdate::NoRow) {
        AddStatus(QStringLiteral("Error: no log entry for message ID=") + id);
        return;
    }
    if (status >= 1 && status <= 3) {
        filepages::remove(m_options.workingDir, rowId);
    }
    if (r == RowUpdate::StoreError) {
        // Kept, in memory and in the journal file, and recorded once the log
        // takes writes again; the message file stays in the pending folder
        // meanwhile and is not paged again.
        const bool kept = m_journal->add({rowId, status, name});
        AddStatus(QStringLiteral("Error: the log entry of message ID=") + id +
                  QStringLiteral(" cannot be updated: ") + error +
                  (kept ? QStringLiteral("; the result is kept in ") +
                              QLatin1String(ResultJournal::kFileName) +
                              QStringLiteral(" and recorded when the log takes writes again")
                        : QStringLiteral("; the result is kept until the log takes writes "
                                         "again, but it cannot be written to ") +
                              QLatin1String(ResultJournal::kFileName)));
        return;
    }
    m_loop.yield();
    moveResultFile(name, status);
}

void MonitorCore::moveResultFile(const QString& name, qint32 status) {
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
    if (name.isEmpty() || !(QFileInfo::exists(from) || QFileInfo(from).isSymLink())) {
        AddStatus(QStringLiteral("Error: message file ") + name +
                  QStringLiteral(" is not in the pending folder"));
    } else if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        AddStatus(QStringLiteral("Error: a file named ") + name +
                  QStringLiteral(" is already in the ") + folder + QStringLiteral(" folder"));
    } else if (!moveFile(from, to)) {
        AddStatus(QStringLiteral("Error: message file ") + name +
                  QStringLiteral(" cannot be moved to the ") + folder + QStringLiteral(" folder"));
    }
}

void MonitorCore::applyJournal() {
    if (!m_logDb) {
        return;
    }
    m_journalTried = m_loop.now();
    const QList<ResultJournal::Entry> entries = m_journal->entries();
    for (const ResultJournal::Entry& e : entries) {
        QString name, error;
        const RowUpdate r = updateLogRow(e.id, e.status, &name, &error);
        if (r == RowUpdate::StoreError) {
            m_conditions->raise(QStringLiteral("journal"),
                                QStringLiteral("Error: %1 kept result(s) cannot be recorded yet: ")
                                        .arg(entries.size()) +
                                    error,
                                QString());
            return;  // the log still takes no writes; tried again at the next check
        }
        m_journal->remove(e.id);
        if (r == RowUpdate::NoRow) {
            AddStatus(QStringLiteral("Error: no log entry for message ID=%1").arg(e.id));
            continue;
        }
        AddStatus(QStringLiteral("The kept result of message ID=%1 is now recorded in the log")
                      .arg(e.id));
        moveResultFile(name.isEmpty() ? e.name : name, e.status);
    }
    m_conditions->clear(QStringLiteral("journal"));
}

std::vector<PortRecord> MonitorCore::readLeftOverResults() {
    std::vector<PortRecord> out;
    const QDir dir(m_options.workingDir);
    const QDateTime from = m_loop.now();
    for (int p = 1; p <= portfile::kPortFiles; ++p) {
        const QString path = dir.filePath(portfile::fileName(p));
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        // A dialer of the run that ended is stopped by its server's end; it
        // hangs up and marks what it had not finished, then lets go.
        PortLock lock(m_options.workingDir, p);
        while (!lock.tryLock() &&
               EventLoop::secondsBetween(from, m_loop.now()) < m_options.dialerStopSeconds) {
            m_loop.waitFor(0.25);
            if (m_ended) {
                return out;
            }
        }
        if (!lock.held()) {
            continue;  // the pager control leaves this port alone and says so
        }
        for (PortRecord& rec : portrecovery::knownOutcomes(path)) {
            out.push_back(std::move(rec));
        }
    }
    return out;
}

void MonitorCore::applyLeftOverResults(const std::vector<PortRecord>& records) {
    const qint32 retries = settings::pagerSettings(m_settings).NumberOfRetries;
    for (const PortRecord& rec : records) {
        if (abandoned()) {
            return;
        }
        const QString uid = conv::trim(rec.uniqueId);
        bool isNumber = false;
        const qint64 id = uid.toLongLong(&isNumber);
        if (!isNumber || id <= 0) {
            continue;  // an alert page or a stranger's record
        }
        // Only a row still waiting for its result takes one.
        try {
            auto rs = m_logDb->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), id);
            if (!rs || rs->eof() || rs->value(QStringLiteral("Status")).toInt() != 0) {
                continue;
            }
        } catch (const db::DbError&) {
            continue;  // unknown: the file goes back to the queue
        }
        const QString msg = conv::trim(rec.message), phone = conv::trim(rec.phoneNumber),
                      pin = conv::trim(rec.pin);
        switch (static_cast<PortStatus>(rec.status)) {
            case PortStatus::Sent:
                Pager1_MessageSent(uid, msg, phone, pin);
                break;
            case PortStatus::Cancelled:
                Pager1_MessageCancelled(uid, msg, phone, pin);
                break;
            case PortStatus::Failed:
            case PortStatus::ModemError:
                // An attempt with retries left was not the message's end: it
                // goes back to the queue like one whose outcome is unknown.
                if (rec.retries >= 0 && rec.retries < retries) {
                    break;
                }
                Pager1_MessageFailed(uid, msg, phone, pin,
                                     rec.status == static_cast<std::int16_t>(PortStatus::ModemError)
                                         ? rec.comPort
                                         : std::int16_t{0});
                break;
            default:
                break;
        }
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
    m_scanner->attach(nullptr, nullptr, m_pager.get());
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
