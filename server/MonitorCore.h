#pragma once

#include "ExitSequence.h"
#include "FailureCauses.h"
#include "QueueScanner.h"
#include "ResultRecorder.h"
#include "ServerSettings.h"
#include "ServerStores.h"
#include "StartUpSequence.h"
#include "Statuses.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class PagerOCX;

namespace vts {

struct QueueMessage;
class AlertMailer;
class AlertSound;
class DeliveryIntake;
class Dialogs;
class EventLoop;
class ExpirySweep;
class Launcher;
class MonitorView;
class OperatorAlerts;
class QueueWatch;
class StatusConditions;
class StatusListModel;
class Timer;

// The paging server beneath its main window: the queue timer Timer1 and its
// checks, the pager control Pager1 and its event handlers, the settings and
// modem loads, and the buttons. It hands the start-up, the recording of
// results and the exit sequence to classes of their own. Everything runs on
// one thread; handlers interleave only at the yields. Invariants: no two
// checks run at once; nothing touches the stores once the exit sequence has
// closed them; once ended() has been emitted nothing else happens.
class MonitorCore final : public QObject,
                          private QueueScanner::Host,
                          private ResultRecorder::Host,
                          private StartUpSequence::Host,
                          private ExitSequence::Host {
    Q_OBJECT
public:
    struct Options {
        QString workingDir;  // holds the stores and the port files
        QString programDir;  // where "VTSCONFIG.EXE" is looked for
        int shutdownNoticeMs = 2000;
        int splashMs = 3000;
        // At the orderly exit, how long the dialers on the line are given to
        // stop before they are ended; within the service's stop time-out.
        double dialerFinishSeconds = 60;
    };

    static inline const QString& kPendingQuestion = ExitSequence::kPendingQuestion;

    MonitorCore(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, MonitorView& view,
                AlertSound& sound, AlertMailer& mailer, Options options);
    ~MonitorCore() override;

    // Start-up. False when the program must end (a message has been shown).
    bool start();

    void Timer1_Timer();
    // False when the configuration store is missing (the program then ends).
    bool LoadConfig() override;
    void LoadModems() override;
    void ApplyPagerSettings();
    void ChangeLogStatus(const QString& id, LogStatus status);
    // Any status value; only a result moves the message file.
    void ChangeLogStatus(const QString& id, qint32 status);

    void Pager1_MessageSent(const QString& UniqueID, const QString& Message,
                            const QString& PhoneNumber, const QString& PIN);
    void Pager1_MessageCancelled(const QString& UniqueID, const QString& Message,
                                 const QString& PhoneNumber, const QString& PIN);
    void Pager1_MessageFailed(const QString& UniqueID, const QString& Message,
                              const QString& PhoneNumber, const QString& PIN,
                              std::int16_t ModemErrorFlag);

    void AddStatus(const QString& text);

    void ClearEvents_c_Click();
    void Command1_Click();
    void Configure_c_Click();
    // Timer1 off and the exit sequence; true when the program ends.
    bool Shutdown_c_Click();
    // The exit sequence. With askOperator false the pending question counts
    // as answered Yes (a stop signal). Returns true when the program ends; a
    // request made during a check runs when the check has finished.
    bool Form_Unload(bool askOperator = true);

    StatusListModel& status() { return *m_status; }
    PagerOCX* pager() { return m_pager.get(); }
    const ServerSettings& settings() const override { return m_settings; }
    Timer& timer1() override { return *m_timer1; }
    Timer& timer2();
    std::optional<QDateTime> lastCheck() const { return m_lastCheck; }
    // Reads the queue folder watch's events; when a queue file may be ready
    // the intake runs within kIntakeCoalesceMs. The program calls it when the
    // watch is readable; tests call it after they drop a file.
    void queueEvents();
    // A burst of events within this window is taken in one scan.
    static constexpr int kIntakeCoalesceMs = 20;
    // A full pager queue takes more files once this many slots are free:
    // pages taken in one go travel in one batch per number, where pages
    // taken one by one as single slots free would each start a run.
    static constexpr int kFeedChunk = 200;
    bool isChecking() const override { return m_checking; }
    bool hasEnded() const override { return m_ended; }
    // The exit status once ended: 0 after the exit sequence, 1 after a fatal message.
    int exitCode() const { return m_exitCode; }
    bool storesOpen() const { return m_stores.isOpen(); }
    // Results kept in the result journal until the log takes them.
    int journalCount() const;
    // An operator's "retry" or "delete" of a message file of the queue
    // folders; refused while the page is still in the server's hands (in
    // the pager control, on the line, or its result not yet recorded).
    // What was done, or empty with *error.
    QString pendingAction(const QString& action, const QString& name, QString* error);

signals:
    // The program should end now with this exit status.
    void ended(int exitCode);
    // A queue message was logged as row `id` and handed to the pager control.
    void pageSubmitted(const QString& id);
    // Once per tick of Timer1, after its work (the service manager's watchdog).
    void ticked();

private:
    void check();
    // The intake between checks: a new queue file, or room again in the
    // pager control's full queue.
    void intakeNow();
    void armIntake();
    void watchQueue();
    void expirySweep();

    // Shared by the hosts' interfaces.
    bool abandoned() const override;
    void addStatus(const QString& text) override { AddStatus(text); }
    // Q + sub + name, resolved ignoring letter case.
    QString queuePath(const QString& sub, const QString& name = QString()) const override;
    void closeStores() override;
    void endProgram(int code) override;

    // QueueScanner::Host
    bool stopRequested() const override { return abandoned() || m_exit->isRequested(); }
    void applyPagerSettings() override { ApplyPagerSettings(); }
    void messageFailed(const QString& id, const QueueMessage& message) override;
    void messageSubmitted(const QString& id) override { emit pageSubmitted(id); }
    void messageCause(const QString& id, const QString& cause) override {
        m_causes->note(id, cause, false);
    }

    // ResultRecorder::Host
    void replayResult(LogStatus result, const QString& uniqueId, const QString& message,
                      const QString& phoneNumber, const QString& pin,
                      std::int16_t modemErrorFlag) override;
    void holdDispatch(bool held) override;

    // StartUpSequence::Host
    void refuseStart() override { m_ended = true; }
    void createPager() override;

    // ExitSequence::Host
    bool hasStarted() const override { return m_startUp->isDone(); }
    void stopActivity() override;
    void releaseLock() override { m_startUp->releaseLock(); }
    bool isDispatching() const override;
    void holdForExit(bool held) override;
    void finishRuns(double seconds) override;
    void applyHold();

    EventLoop& m_loop;
    Dialogs& m_dialogs;
    Launcher& m_launcher;
    MonitorView& m_view;
    Options m_options;

    std::unique_ptr<StatusListModel> m_status;
    ServerStores m_stores;
    std::unique_ptr<PagerOCX> m_pager;
    std::unique_ptr<OperatorAlerts> m_alerts;
    std::unique_ptr<Timer> m_timer1;
    std::unique_ptr<ExpirySweep> m_sweep;
    std::unique_ptr<QueueWatch> m_watch;
    std::unique_ptr<Timer> m_intake;  // single shot
    std::unique_ptr<QObject> m_watchNotifier;
    std::unique_ptr<StatusConditions> m_conditions;
    std::unique_ptr<ResultRecorder> m_results;
    std::unique_ptr<QueueScanner> m_scanner;
    std::unique_ptr<FailureCauses> m_causes;
    std::unique_ptr<DeliveryIntake> m_delivery;
    std::unique_ptr<StartUpSequence> m_startUp;
    std::unique_ptr<ExitSequence> m_exit;

    ServerSettings m_settings;
    mutable QHash<QString, QString> m_folders;  // resolved queue folders of this check
    std::optional<QDateTime> m_lastCheck;
    bool m_checking = false;
    bool m_ended = false;
    bool m_holdForJournal = false;  // the result journal has no room for more results
    bool m_holdForExit = false;
    int m_exitCode = 1;
};

// Sets the values the server's saved form gives its pager control.
void applySavedForm(PagerOCX& pager);

}  // namespace vts
