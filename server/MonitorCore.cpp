#include "MonitorCore.h"

#include "AlertMailer.h"
#include "AlertSound.h"
#include "CarrierPorts.h"
#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "DeliveryIntake.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "ExpirySweep.h"
#include "FailureCauses.h"
#include "Launcher.h"
#include "MonitorView.h"
#include "OperatorAlerts.h"
#include "PagerOCX.h"
#include "Paths.h"
#include "PendingActions.h"
#include "PropertyBag.h"
#include "QueueFile.h"
#include "QueueWatch.h"
#include "SendQueue.h"
#include "StatusConditions.h"
#include "StatusListModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

namespace vts {

namespace {

const QString kPending = QStringLiteral("\\PENDING\\");
const QString kSent = QStringLiteral("\\SENT\\");
const QString kFailed = QStringLiteral("\\FAILED\\");
const QString kAlert = QStringLiteral("Alert");

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
    m_intake = m_loop.createTimer(kIntakeCoalesceMs, [this] { intakeNow(); });
    m_intake->setSingleShot(true);
    m_watch = std::make_unique<QueueWatch>();
    if (m_watch->fd() >= 0 && QCoreApplication::instance()) {
        auto* notifier = new QSocketNotifier(m_watch->fd(), QSocketNotifier::Read);
        connect(notifier, &QSocketNotifier::activated, this, [this] { queueEvents(); });
        m_watchNotifier.reset(notifier);
    }
    m_conditions = std::make_unique<StatusConditions>(
        m_loop, [this](const QString& text) { AddStatus(text); });
    m_results = std::make_unique<ResultRecorder>(
        m_loop, *m_conditions, static_cast<ResultRecorder::Host&>(*this), m_options.workingDir);
    m_scanner = std::make_unique<QueueScanner>(
        m_loop, *m_conditions, static_cast<QueueScanner::Host&>(*this), m_options.workingDir);
    m_causes = std::make_unique<FailureCauses>([this](const QString& text) { AddStatus(text); },
                                               [this] { return m_stores.log(); });
    m_delivery =
        std::make_unique<DeliveryIntake>(m_options.workingDir, [this] { return m_stores.log(); });
    StartUpSequence::Options start;
    start.workingDir = m_options.workingDir;
    start.splashMs = m_options.splashMs;
    m_startUp = std::make_unique<StartUpSequence>(m_loop, m_dialogs, m_view, m_stores, *m_results,
                                                  static_cast<StartUpSequence::Host&>(*this),
                                                  std::move(start));
    m_exit = std::make_unique<ExitSequence>(
        m_loop, m_dialogs, m_view, *m_results, static_cast<ExitSequence::Host&>(*this),
        m_options.shutdownNoticeMs, m_options.dialerFinishSeconds);
}

MonitorCore::~MonitorCore() {
    m_timer1->stop();
    m_intake->stop();
    m_watchNotifier.reset();
    stopActivity();
}

Timer& MonitorCore::timer2() { return m_alerts->timer2(); }

void MonitorCore::AddStatus(const QString& text) { m_status->AddStatus(text); }

bool MonitorCore::abandoned() const { return m_ended || m_exit->storesClosed(); }

void MonitorCore::endProgram(int code) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_exitCode = code;
    m_timer1->stop();
    m_intake->stop();
    stopActivity();
    emit ended(code);
}

// ------------------------------------------- start-up, settings and modems

bool MonitorCore::start() { return m_startUp->run(); }

void MonitorCore::createPager() {
    m_pager = std::make_unique<PagerOCX>(m_loop, m_dialogs, m_launcher, m_options.workingDir);
    connect(m_pager.get(), &PagerOCX::notice, this, &MonitorCore::AddStatus);
    connect(m_pager.get(), &PagerOCX::portReleased, this, [this](int port) {
        if (!abandoned()) {
            m_results->takeReleasedPort(port, settings::pagerSettings(m_settings).NumberOfRetries);
        }
    });
    applySavedForm(*m_pager);
    // Network carriers take their batches without the modems' waits.
    m_pager->setNetworkPorts(networkComPorts);
    m_alerts->setPager(m_pager.get());
    m_scanner->attach(m_stores.clients(), m_stores.logTable(), m_pager.get());
    connect(m_pager.get(), &PagerOCX::MessageSent, this, &MonitorCore::Pager1_MessageSent);
    connect(m_pager.get(), &PagerOCX::MessageCancelled, this,
            &MonitorCore::Pager1_MessageCancelled);
    connect(m_pager.get(), &PagerOCX::MessageFailed, this, &MonitorCore::Pager1_MessageFailed);
    // A page settled frees its slot right after its event: a queue that
    // was full takes the files waiting for it once a chunk is free.
    const auto feed = [this] {
        // The settled page's slot is still counted here.
        if (m_scanner->stoppedFull() && m_pager &&
            m_pager->QueueCount() <= SendQueue::kSlots - kFeedChunk + 1) {
            armIntake();
        }
    };
    connect(m_pager.get(), &PagerOCX::MessageSent, this, feed);
    connect(m_pager.get(), &PagerOCX::MessageCancelled, this, feed);
    connect(m_pager.get(), &PagerOCX::MessageFailed, this, feed);
    connect(m_pager.get(), &PagerOCX::MessageCause, this,
            [this](const QString& id, const QString& cause, bool retried) {
                if (!abandoned()) m_causes->note(id, cause, retried);
            });
    applyHold();
}

bool MonitorCore::LoadConfig() {
    if (!m_stores.config() || !configstore::present(m_options.workingDir)) {
        configstore::showMissing(m_dialogs);
        endProgram(1);
        return false;
    }
    try {
        auto row = m_stores.config()->openTable(QStringLiteral("tblConfig"));
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
        auto modems = m_stores.config()->openTable(QStringLiteral("tblModems"));
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

// ------------------------------------------------------------- queue checks

void MonitorCore::Timer1_Timer() {
    if (m_checking || abandoned()) {
        return;
    }
    m_checking = true;
    check();
    m_checking = false;
    if (!abandoned()) m_delivery->tick();
    m_exit->runRequested();
    if (!abandoned()) emit ticked();
}

void MonitorCore::check() {
    m_folders.clear();
    m_loop.yield();
    if (abandoned() || m_exit->isRequested()) {
        return;
    }
    if (!LoadConfig()) {
        return;
    }
    const int interval = settings::checkIntervalSeconds(m_settings.CheckTime);
    m_loop.yield();
    if (abandoned() || m_exit->isRequested()) {
        return;
    }

    m_results->applyJournalIfDue();
    if (abandoned()) {
        return;
    }

    const QDateTime now = m_loop.now();
    if (!m_lastCheck || EventLoop::secondsBetween(*m_lastCheck, now) > interval) {
        expirySweep();
        watchQueue();
        if (!m_scanner->scan()) {
            return;
        }
        m_watch->scanned();
        m_lastCheck = m_loop.now();
    }
    m_loop.yield();
}

void MonitorCore::watchQueue() {
    // The queue folder comes from the settings, which may name another one
    // at any check.
    m_watch->watch(queuePath(QStringLiteral("\\")));
}

void MonitorCore::queueEvents() {
    if (m_watch->takeEvents()) {
        armIntake();
    }
}

void MonitorCore::armIntake() {
    if (!abandoned() && !m_intake->isActive()) {
        m_intake->start();
    }
}

void MonitorCore::intakeNow() {
    if (abandoned() || !m_startUp->isDone() || !m_timer1->isActive() || m_exit->isRequested()) {
        return;
    }
    if (m_checking) {
        armIntake();  // after the check under way
        return;
    }
    m_watch->takeEvents();
    m_checking = true;
    m_folders.clear();
    const bool whole = m_scanner->scan(m_watch->writing());
    m_checking = false;
    if (abandoned()) {
        return;
    }
    if (whole) {
        m_watch->scanned();
    }
    m_exit->runRequested();
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

void MonitorCore::ChangeLogStatus(const QString& id, LogStatus status) {
    m_results->record(id, status);
}

void MonitorCore::ChangeLogStatus(const QString& id, qint32 status) {
    ChangeLogStatus(id, static_cast<LogStatus>(status));
}

void MonitorCore::replayResult(LogStatus result, const QString& uniqueId, const QString& message,
                               const QString& phoneNumber, const QString& pin,
                               std::int16_t modemErrorFlag) {
    switch (result) {
        case LogStatus::Sent:
            Pager1_MessageSent(uniqueId, message, phoneNumber, pin);
            break;
        case LogStatus::Cancelled:
            Pager1_MessageCancelled(uniqueId, message, phoneNumber, pin);
            break;
        case LogStatus::Failed:
            Pager1_MessageFailed(uniqueId, message, phoneNumber, pin, modemErrorFlag);
            break;
        case LogStatus::Waiting:
            break;
    }
}

void MonitorCore::Pager1_MessageSent(const QString& UniqueID, const QString&,
                                     const QString& PhoneNumber, const QString& PIN) {
    if (abandoned()) {
        return;
    }
    if (UniqueID != kAlert) {
        ChangeLogStatus(UniqueID, LogStatus::Sent);
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
    m_causes->announce(UniqueID);
    if (UniqueID != kAlert) {
        ChangeLogStatus(UniqueID, LogStatus::Cancelled);
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
    ChangeLogStatus(UniqueID, LogStatus::Failed);
    AddStatus(QStringLiteral("Message failed: Ph#=") + PhoneNumber + QStringLiteral(" PIN=") + PIN +
              QStringLiteral(" ID=") + UniqueID);
    m_causes->announce(UniqueID);
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

bool MonitorCore::Form_Unload(bool askOperator) { return m_exit->run(askOperator); }

void MonitorCore::stopActivity() {
    if (m_pager) {
        m_pager->stopDispatch();
    }
    m_alerts->cancel();
}

bool MonitorCore::isDispatching() const { return m_pager && m_pager->isDispatching(); }

void MonitorCore::holdForExit(bool held) {
    m_holdForExit = held;
    applyHold();
}

void MonitorCore::holdDispatch(bool held) {
    m_holdForJournal = held;
    applyHold();
}

void MonitorCore::applyHold() {
    if (m_pager) {
        m_pager->setDispatchHeld(m_holdForJournal || m_holdForExit);
    }
}

void MonitorCore::finishRuns(double seconds) {
    if (m_pager) {
        m_pager->finishRuns(seconds);
    }
}

void MonitorCore::closeStores() {
    m_scanner->attach(nullptr, nullptr, m_pager.get());
    m_results->attach(nullptr);
    m_stores.close();
}

QString MonitorCore::pendingAction(const QString& action, const QString& name, QString* error) {
    auto fail = [error](const QString& why) {
        *error = why;
        return QString();
    };
    const auto act = pendingfiles::actionNamed(action);
    if (!act) return fail(QStringLiteral("the action is retry or delete"));
    if (const QString why = pendingfiles::checkName(name); !why.isEmpty()) return fail(why);
    if (abandoned() || !m_stores.isOpen()) return fail(QStringLiteral("the server is stopping"));
    // A check may be between logging this file and handing it over.
    if (m_scanner->inHand().compare(name, Qt::CaseInsensitive) == 0)
        return fail(QStringLiteral("%1 is being submitted; try again in a second").arg(name));
    m_folders.clear();
    const QString q = queuePath(QString());
    const auto found = pendingfiles::find(q, name);
    if (!found)
        return fail(QStringLiteral("%1 is not in the PENDING, FAILED or SENT folder").arg(name));
    if (found->folder == QLatin1String("PENDING")) {
        if (m_results->holdsFile(name))
            return fail(QStringLiteral("%1 waits for its result; try again later").arg(name));
        // The page is in hand while a log row of this file is in the send
        // queue (waiting, retried or on the line, or its result being
        // recorded: a slot is freed only after its result's handler).
        QStringList ids;
        try {
            auto rows = m_stores.log()->openQuery(
                QStringLiteral("SELECT ID FROM tblLog WHERE UniqueID = ?"), {name});
            for (; !rows->eof(); rows->moveNext())
                ids << rows->value(QStringLiteral("ID")).toString();
        } catch (const db::DbError& e) {
            return fail(QStringLiteral("the log store cannot be read now (%1); try again")
                            .arg(e.message()));
        }
        if (m_pager) {
            const SendQueue& queue = m_pager->queue();
            for (int s = 1; s <= SendQueue::kSlots; ++s) {
                const QueueSlot& slot = queue.at(s);
                if (slot.occupied() && ids.contains(slot.UniqueID.trimmed()))
                    return fail(QStringLiteral("%1 is being sent (ID=%2); wait for its result")
                                    .arg(name, slot.UniqueID.trimmed()));
            }
        }
    }
    const QString done = pendingfiles::apply(*act, q, name, error);
    if (!done.isEmpty()) AddStatus(QStringLiteral("Operator: ") + done);
    return done;
}

int MonitorCore::journalCount() const {
    return m_results ? static_cast<int>(m_results->journal().entries().size()) : 0;
}

}  // namespace vts
