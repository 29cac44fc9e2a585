#include "ExitSequence.h"

#include "Dialogs.h"
#include "EventLoop.h"
#include "MonitorView.h"
#include "Paths.h"
#include "ResultRecorder.h"

namespace vts {

ExitSequence::ExitSequence(EventLoop& loop, Dialogs& dialogs, MonitorView& view,
                           ResultRecorder& results, Host& host, int shutdownNoticeMs)
    : m_loop(loop),
      m_dialogs(dialogs),
      m_view(view),
      m_results(results),
      m_host(host),
      m_shutdownNoticeMs(shutdownNoticeMs) {}

void ExitSequence::runRequested() {
    if (!m_request) {
        return;
    }
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
    if (m_host.isChecking()) {
        // The check stops at its next yield and the exit runs after it; a
        // stop signal outweighs a question.
        if (!m_request || !askOperator) {
            m_request = askOperator;
        }
        return false;
    }
    m_running = true;
    m_host.timer1().setEnabled(false);

    bool ok = false;
    const bool pending = !paths::listFiles(m_host.queuePath(QStringLiteral("\\PENDING\\")),
                                           QStringLiteral("*.PMF"), &ok)
                              .isEmpty();
    if (pending) {
        const bool yes =
            !askOperator ||
            m_dialogs.show(kPendingQuestion, QStringLiteral("Warning!"), Dialogs::Icon::None,
                           Dialogs::Buttons::YesNo) == Dialogs::Answer::Yes;
        if (m_host.hasEnded()) {
            return true;
        }
        if (!yes) {
            m_host.timer1().setEnabled(true);
            m_running = false;
            return false;
        }
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
