// vtsmonitor: the paging server. With a display it shows its window; without
// one it runs on the offscreen platform, writes every status line to standard
// output and every message box to standard error, and ends with status 1
// after a fatal start-up message. SIGTERM and SIGINT run the exit sequence
// as if the operator had answered Yes.
#include "AlertMailer.h"
#include "AlertSound.h"
#include "Dialogs.h"
#include "Launcher.h"
#include "MonitorCore.h"
#include "MultimediaSound.h"
#include "QtDialogs.h"
#include "QtEventLoop.h"
#include "QuietStart.h"
#include "ServiceLog.h"
#include "ShutdownSignals.h"
#include "StatusListModel.h"
#include "Version.h"
#include "WidgetMonitorView.h"
#include "frmMonitor.h"

#include <QApplication>
#include <QDir>

#include <unistd.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    if (const int done = vts::handleHelpAndVersion(
            argc, argv, "vtsmonitor",
            "usage: vtsmonitor\n"
            "The Vantrel paging server. Run it in the working directory that holds\n"
            "VTSCFG.MDB (vtsinit makes one). Without a display it writes its status\n"
            "lines to standard output; SIGTERM or SIGINT runs the orderly exit.\n"
            "  --help     show this text\n"
            "  --version  show the version\n");
        done >= 0) {
        return done;
    }
    vts::quietStart();
    bool headless =
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal") {
        headless = true;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel Server"));
    QApplication::setQuitOnLastWindowClosed(false);

    vts::QtEventLoop loop;
    std::unique_ptr<vts::Dialogs> dialogs;
    if (headless) {
        dialogs = std::make_unique<vts::ConsoleDialogs>(vts::Dialogs::Answer::Yes);
        if (vts::servicelog::isJournal(STDERR_FILENO)) {
            dialogs = std::make_unique<vts::servicelog::JournalDialogs>(std::move(dialogs));
        }
    } else {
        dialogs = std::make_unique<vts::QtDialogs>();
    }
    vts::ProcessLauncher launcher;
    vts::AlertMailer mailer;
    std::unique_ptr<vts::AlertSound> sound;
    if (headless) {
        sound = std::make_unique<vts::TerminalBell>();
    } else {
        sound = std::make_unique<vts::MultimediaSound>();
    }
    vts::WidgetMonitorView view(headless);

    vts::MonitorCore::Options options;
    options.workingDir = QDir::currentPath();
    options.programDir = QCoreApplication::applicationDirPath();
    vts::MonitorCore core(loop, *dialogs, launcher, view, *sound, mailer, options);
    if (headless) {
        const bool journal = vts::servicelog::stdoutIsJournal();
        core.status().setEcho([journal](const QString& line) {
            const QByteArray bytes =
                (journal ? vts::servicelog::journalLine(line) : line).toLocal8Bit();
            std::fprintf(stdout, "%s\n", bytes.constData());
            std::fflush(stdout);
        });
    }
    vts::frmMonitor form(core);
    view.setMonitor(&form);
    if (!headless) {
        static_cast<vts::QtDialogs*>(dialogs.get())->setParent(&form);
    }

    vts::ShutdownSignals stopSignals;
    QObject::connect(&stopSignals, &vts::ShutdownSignals::stopRequested, &core,
                     [&core] { core.Form_Unload(false); });
    QObject::connect(&core, &vts::MonitorCore::ended, &app,
                     [](int code) { QCoreApplication::exit(code); });

    if (!core.start() || core.hasEnded()) {
        return core.hasEnded() ? core.exitCode() : 1;
    }
    if (const QString warning = vts::servicelog::rootWarning(::geteuid()); !warning.isEmpty()) {
        core.AddStatus(warning);
    }
    return QApplication::exec();
}
