#pragma once

#include "QueueScanner.h"
#include "ServerSettings.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PagerOCX;

namespace vts {

struct QueueMessage;
class AlertMailer;
class AlertSound;
class Dialogs;
class EventLoop;
class ExpirySweep;
class Launcher;
class MonitorView;
class OperatorAlerts;
class ResultJournal;
class SingleCopyGuard;
class StatusConditions;
struct PortRecord;
class StatusListModel;
class Timer;

namespace db {
class Database;
class Recordset;
}  // namespace db

// The paging server beneath its main window: start-up, the queue timer
// Timer1 and its checks, the pager control Pager1 and its results, the
// operator alerts, the buttons and the exit sequence. Everything runs on one
// thread; handlers interleave only at the yields. Invariants: no two checks
// run at once; nothing touches the stores once the exit sequence has closed
// them; once ended() has been emitted nothing else happens.
class MonitorCore final : public QObject, private QueueScanner::Host {
    Q_OBJECT
public:
    struct Options {
        QString workingDir;  // holds the stores and the port files
        QString programDir;  // where "VTSCONFIG.EXE" is looked for
        int shutdownNoticeMs = 2000;
        int splashMs = 3000;
        // At start-up, how long a dialer of an earlier run is given to let go
        // of its port file before the port is left unused.
        double dialerStopSeconds = 20;
    };

    static inline const QString kPendingQuestion = QStringLiteral(
        "There are still messages presently being sent.  By exiting the program these files "
        "will be put back into the queue.  Do you want to continue exiting?");

    MonitorCore(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, MonitorView& view,
                AlertSound& sound, AlertMailer& mailer, Options options);
    ~MonitorCore() override;

    // Start-up. False when the program must end (a message has been shown).
    bool start();

    void Timer1_Timer();
    // False when the configuration store is missing (the program then ends).
    bool LoadConfig();
    void LoadModems();
    void ApplyPagerSettings();
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
    const ServerSettings& settings() const { return m_settings; }
    Timer& timer1() { return *m_timer1; }
    Timer& timer2();
    std::optional<QDateTime> lastCheck() const { return m_lastCheck; }
    bool isChecking() const { return m_checking; }
    bool hasEnded() const { return m_ended; }
    // The exit status once ended: 0 after the exit sequence, 1 after a fatal message.
    int exitCode() const { return m_exitCode; }
    bool storesOpen() const { return m_logDb != nullptr; }

signals:
    // The program should end now with this exit status.
    void ended(int exitCode);

private:
    void endProgram(int code);
    void check();
    void expirySweep();
    void returnPendingFiles(bool report);
    void clearTraceLogs();
    void prepareLogStore();
    void closeStores();
    void runRequestedExit();

    // Result handling. A result the log cannot take is journalled and
    // applied by applyJournal once the log takes writes again.
    enum class RowUpdate { Done, NoRow, StoreError };
    RowUpdate updateLogRow(qint64 id, qint32 status, QString* name, QString* error);
    void moveResultFile(const QString& name, qint32 status);
    void applyJournal();
    // Start-up: the outcomes left in port files by a run that ended without
    // its exit sequence, read once their dialers have let go of them, and
    // applied once the pager control is up.
    std::vector<PortRecord> readLeftOverResults();
    void applyLeftOverResults(const std::vector<PortRecord>& records);

    // QueueScanner::Host
    bool stopRequested() const override { return abandoned() || m_exitRequest.has_value(); }
    bool abandoned() const override { return m_ended || m_closed; }
    void addStatus(const QString& text) override { AddStatus(text); }
    void applyPagerSettings() override { ApplyPagerSettings(); }
    void messageFailed(const QString& id, const QueueMessage& message) override;
    // Q + sub + name, resolved ignoring letter case.
    QString queuePath(const QString& sub, const QString& name = QString()) const override;

    EventLoop& m_loop;
    Dialogs& m_dialogs;
    Launcher& m_launcher;
    MonitorView& m_view;
    Options m_options;

    std::unique_ptr<StatusListModel> m_status;
    std::unique_ptr<SingleCopyGuard> m_guard;
    std::unique_ptr<db::Database> m_cfgDb;
    std::unique_ptr<db::Database> m_logDb;
    std::unique_ptr<db::Recordset> m_clients;
    std::unique_ptr<db::Recordset> m_log;
    std::unique_ptr<PagerOCX> m_pager;
    std::unique_ptr<OperatorAlerts> m_alerts;
    std::unique_ptr<Timer> m_timer1;
    std::unique_ptr<ExpirySweep> m_sweep;
    std::unique_ptr<StatusConditions> m_conditions;
    std::unique_ptr<ResultJournal> m_journal;
    std::unique_ptr<QueueScanner> m_scanner;

    ServerSettings m_settings;
    mutable QHash<QString, QString> m_folders;  // resolved queue folders of this check
    std::optional<QDateTime> m_lastCheck;
    std::optional<QDateTime> m_journalTried;  // last attempt to record kept results
    bool m_checking = false;
    bool m_unloading = false;
    bool m_closed = false;
    bool m_ended = false;
    bool m_started = false;
    int m_exitCode = 1;
    std::optional<bool> m_exitRequest;  // askOperator of an exit asked for during a check
};

// Sets the values the server's saved form gives its pager control.
void applySavedForm(PagerOCX& pager);

}  // namespace vts
