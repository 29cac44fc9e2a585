#include "ExitSequence.h"

#include "Dialogs.h"
#include "EventLoop.h"
#include "MonitorView.h"
#include "Paths.h"
#include "ResultRecorder.h"

namespace vts {

ExitSequence::ExitSequence(EventLoop& loop, Dialogs& dialogs, MonitorView& view,
                           ResultRecorder& results, Host& host, int shutdownNoticeMs,
                           double finishSeconds)
    : m_loop(loop),
      m_dialogs(dialogs),
      m_view(view),
      m_results(results),
      m_host(host),
      m_shutdownNoticeMs(shutdownNoticeMs),
      m_finishSeconds(finishSeconds),
      m_retry(loop.createTimer(200, [this] { runRequested(); })) {}

ExitSequence::~ExitSequence() { m_retry->stop(); }

void ExitSequence::runRequested() {
    if (!m_request) {
        m_retry->stop();
        return;
    }
    if (m_host.isChecking() || m_host.isDispatching()) {
        return;  // still under way; the retry timer comes back
    }
    m_retry->stop();
    const bool ask = *m_request;
    m_request.reset();
    run(ask);
}

bool ExitSequence::run(bool askOperator) {
    if (m_host.hasEnded()) {
        return true;
    }
    if (m_running) {
        return false;
    }
    if (!m_host.hasStarted()) {
        // Stopped during start-up: nothing is open or pending yet.
        m_host.endProgram(0);
        return true;
    }
    if (!askOperator) {
        m_host.holdForExit(true);  // a stop: no dialer run starts from now on
    }
    if (m_host.isChecking() || m_host.isDispatching()) {
        // The check stops at its next yield (a dispatch tick ends by itself)
        // and the exit runs after it; a stop signal outweighs a question.
        if (!m_request || !askOperator) {
            m_request = askOperator;
        }
        m_retry->setEnabled(true);
        return false;
    }
    m_running = true;
    m_host.timer1().setEnabled(false);

    bool ok = false;
    const bool pending = !paths::listFiles(m_host.queuePath(QStringLiteral("\\PENDING\\")),
                                           QStringLiteral("*.PMF"), &ok)
                              .isEmpty();
    if (pending) {
        m_host.holdForExit(true);
        const bool yes =
            !askOperator ||
            m_dialogs.show(kPendingQuestion, QStringLiteral("Warning!"), Dialogs::Icon::None,
                           Dialogs::Buttons::YesNo) == Dialogs::Answer::Yes;
        if (m_host.hasEnded()) {
            return true;
        }
        if (!yes) {
            m_host.holdForExit(false);
            m_host.timer1().setEnabled(true);
            m_running = false;
            return false;
        }
    }
    // What the dialers on the line deliver before they stop is recorded;
    // only the rest goes back to the queue.
    m_host.holdForExit(true);
    m_host.finishRuns(m_finishSeconds);
    if (m_host.hasEnded()) {
        return true;
    }
    if (pending) {
        m_results.returnPendingFiles(false);
    }
    m_host.stopActivity();
    m_host.closeStores();
    m_closed = true;

    m_view.showShutdownNotice();
    m_loop.waitFor(m_shutdownNoticeMs / 1000.0);
    m_view.closeShutdownNotice();
    m_host.releaseLock();
    m_host.endProgram(0);
    return true;
}

}  // namespace vts
