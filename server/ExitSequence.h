#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace vts {

class Dialogs;
class EventLoop;
class MonitorView;
class ResultRecorder;
class Timer;

// The orderly exit (Form_Unload): Timer1 off; with message files pending,
// the operator's Yes puts them back into the queue folder and a No keeps
// the server running; then dispatch and the alert sound stop, the stores
// close, and the shut-down notice shows before the program ends. An exit
// asked for during a queue check waits for the check to stop at its next
// yield, and an exit before the start-up has finished just ends.
//
// No dialer run starts once a stop is asked for (or while the question is
// open). Before files go back to the queue, the dialers on the line are
// asked to stop and waited for, up to `finishSeconds`: every page they
// report sent is recorded as sent and its file goes to SENT, so only the
// files whose pages did not go out are returned and paged again later.
class ExitSequence final {
public:
    static inline const QString kPendingQuestion = QStringLiteral(
        "There are still messages presently being sent.  By exiting the program these files "
        "will be put back into the queue.  Do you want to continue exiting?");

    // What the exit needs from the server around it.
    class Host {
    public:
        virtual ~Host() = default;
        virtual bool hasEnded() const = 0;
        virtual bool isChecking() const = 0;
        // The start-up has reached the running state.
        virtual bool hasStarted() const = 0;
        virtual Timer& timer1() = 0;
        // Queue folder + sub + name, resolved ignoring letter case.
        virtual QString queuePath(const QString& sub, const QString& name = QString()) const = 0;
        // Stops dispatch and the alert sound, so no result reaches a closed store.
        virtual void stopActivity() = 0;
        // A dispatch tick of the pager control is under way.
        virtual bool isDispatching() const = 0;
        // While held, no new dialer run starts.
        virtual void holdForExit(bool held) = 0;
        // Asks the dialers on the line to stop and records what they report,
        // waiting at most `seconds`.
        virtual void finishRuns(double seconds) = 0;
        virtual void closeStores() = 0;
        // Lets another server use the working directory.
        virtual void releaseLock() = 0;
        // The program ends now with `code`.
        virtual void endProgram(int code) = 0;
    };

    ExitSequence(EventLoop& loop, Dialogs& dialogs, MonitorView& view, ResultRecorder& results,
                 Host& host, int shutdownNoticeMs, double finishSeconds);
    ~ExitSequence();

    // Runs the exit. With askOperator false the pending question counts as
    // answered Yes (a stop signal). True when the program ends.
    bool run(bool askOperator);
    // An exit asked for during a check, waiting for it to end.
    bool isRequested() const { return m_request.has_value(); }
    // Runs the exit asked for during the check that has just ended.
    void runRequested();
    // The stores are closed: results and checks are no longer taken.
    bool storesClosed() const { return m_closed; }

private:
    EventLoop& m_loop;
    Dialogs& m_dialogs;
    MonitorView& m_view;
    ResultRecorder& m_results;
    Host& m_host;
    int m_shutdownNoticeMs;
    double m_finishSeconds;
    std::unique_ptr<Timer> m_retry;  // runs a deferred exit once the pager's tick is over
    bool m_running = false;
    bool m_closed = false;
    std::optional<bool> m_request;  // askOperator of an exit asked for during a check
};

}  // namespace vts
