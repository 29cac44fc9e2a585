#include "StartUpSequence.h"

#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "FilePages.h"
#include "LogStore.h"
#include "MonitorView.h"
#include "Paths.h"
#include "PortRecord.h"
#include "ResultRecorder.h"
#include "ServerSettings.h"
#include "ServerStores.h"
#include "SingleCopyGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vts {

namespace {

const QString kLockName = QStringLiteral("vtsmonitor.lock");

}  // namespace

StartUpSequence::StartUpSequence(EventLoop& loop, Dialogs& dialogs, MonitorView& view,
                                 ServerStores& stores, ResultRecorder& results, Host& host,
                                 Options options)
    : m_loop(loop),
      m_dialogs(dialogs),
      m_view(view),
      m_stores(stores),
      m_results(results),
      m_host(host),
      m_options(std::move(options)) {}

StartUpSequence::~StartUpSequence() = default;

void StartUpSequence::releaseLock() { m_guard.reset(); }

bool StartUpSequence::run() {
    m_guard = std::make_unique<SingleCopyGuard>(m_options.workingDir, kLockName);
    if (!m_guard->acquire()) {
        m_dialogs.show(m_guard->refusalText(QStringLiteral("Vantrel Server is already running"),
                                            QStringLiteral("Vantrel Server")),
                       QStringLiteral("Error"), Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        m_host.refuseStart();
        return false;
    }
    // The store check comes first, so a server started in the wrong folder
    // leaves nothing behind.
    if (!configstore::present(m_options.workingDir)) {
        configstore::showMissing(m_dialogs);
        m_guard.reset();
        m_host.refuseStart();
        return false;
    }

    m_view.showSplash();
    m_loop.waitFor(m_options.splashMs / 1000.0);
    if (m_host.hasEnded()) {  // stopped while the start-up window was up
        m_view.closeSplash();
        return false;
    }
    if (!prepareLogStore() || !openStores()) {
        return false;
    }

    // Before the pager control clears the port files: what they say about
    // the messages of a run that ended without its exit sequence.
    const std::vector<PortRecord> leftOver = m_results.readLeftOverResults();
    if (m_host.hasEnded()) {
        m_host.closeStores();
        return false;
    }

    m_host.createPager();
    if (!m_host.LoadConfig()) {
        return false;
    }
    m_host.LoadModems();
    if (m_host.hasEnded()) {
        return false;
    }
    m_host.addStatus(QStringLiteral("Vantrel Server started"));
    // Results the log could not take in an earlier run, then the outcomes
    // the port files hold; only files whose outcome is still unknown go back
    // to the queue before the first check, as the operator's Yes would have
    // done.
    m_results.loadJournal();
    m_results.applyJournal();
    m_results.applyLeftOverResults(leftOver,
                                   settings::pagerSettings(m_host.settings()).NumberOfRetries);
    if (m_host.hasEnded()) {
        return false;
    }
    filepages::clearAll(m_options.workingDir);
    m_results.returnPendingFiles(true);
    m_host.timer1().setEnabled(true);
    clearTraceLogs();
    m_view.showMonitor();
    m_done = true;
    m_loop.yield();
    if (m_host.hasEnded()) {
        return false;
    }
    m_host.timer1().setEnabled(true);
    return true;
}

// The start-up window's work: a new log store, or the old copy of the log
// removed. False (after its message) when the log store cannot be made.
bool StartUpSequence::prepareLogStore() {
    m_view.setBusyCursor(true);
    try {
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
    } catch (const db::DbError& e) {
        m_view.setBusyCursor(false);
        m_view.closeSplash();
        m_dialogs.show(QStringLiteral("The message log cannot be created: ") + e.message(),
                       configstore::kMissingTitle, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        m_host.refuseStart();
        return false;
    }
    m_view.setBusyCursor(false);
    m_view.closeSplash();
    return true;
}

bool StartUpSequence::openStores() {
    try {
        m_stores.open(m_options.workingDir);
        m_results.attach(m_stores.log());
    } catch (const db::DbError& e) {
        m_dialogs.show(QStringLiteral("The stores cannot be opened: ") + e.message(),
                       configstore::kMissingTitle, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
        m_host.closeStores();
        m_host.refuseStart();
        return false;
    }
    return true;
}

// The dialer's trace logs of an earlier run: KRXOCX?.log goes when a
// KRX?.log is there.
void StartUpSequence::clearTraceLogs() {
    const QStringList krx = paths::listFiles(m_options.workingDir, QStringLiteral("KRX?.log"));
    if (krx.isEmpty()) {
        return;
    }
    const QDir dir(m_options.workingDir);
    for (const QString& f : paths::listFiles(m_options.workingDir, QStringLiteral("KRXOCX?.log"))) {
        QFile::remove(dir.filePath(f));
    }
}

}  // namespace vts
