// vtsmonitor: the paging server. With a display it loads its window plug-in
// and shows its windows; without one, or without the plug-in, it runs
// headless: every status line on standard output, every message box on
// standard error, the terminal bell as its alert sound, and exit status 1
// after a fatal start-up message. SIGTERM and SIGINT run the exit sequence
// as if the operator had answered Yes.
#include "AlertMailer.h"
#include "AlertSound.h"
#include "CommandLine.h"
#include "ControlSocket.h"
#include "ControlStatus.h"
#include "Dialogs.h"
#include "Launcher.h"
#include "MonitorCore.h"
#include "MonitorGui.h"
#include "MonitorView.h"
#include "QtEventLoop.h"
#include "QuietStart.h"
#include "ServiceLog.h"
#include "ServiceNotifier.h"
#include "ShutdownSignals.h"
#include "StatusListModel.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QObject>

#include <unistd.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    const char* const usage =
        "usage: vtsmonitor\n"
        "The Vantrel paging server. Run it in the working directory that holds\n"
        "VTSCFG.MDB (vtsinit makes one). Without a display it writes its status\n"
        "lines to standard output; SIGTERM or SIGINT runs the orderly exit.\n"
        "  --help     show this text\n"
        "  --version  show the version\n";
    if (const int done = vts::handleHelpAndVersion(argc, argv, "vtsmonitor", usage); done >= 0) {
        return done;
    }
    if (const int refused = vts::cli::refuseOptions(argc, argv, "vtsmonitor", usage);
        refused >= 0) {
        return refused;
    }
    vts::quietStart();

    // The window plug-in makes the QApplication; a headless run needs only
    // the core application.
    std::unique_ptr<vts::MonitorGui> gui;
    std::unique_ptr<QCoreApplication> app;
    if (vts::monitorgui::displayPresent(QProcessEnvironment::systemEnvironment())) {
        QString why;
        gui = vts::monitorgui::load(vts::monitorgui::folders(vts::monitorgui::programDir()), argc,
                                    argv, &why);
        if (!gui) {
            std::fprintf(stderr, "vtsmonitor: no windows (%s); running without them\n",
                         why.toLocal8Bit().constData());
        }
    }
    if (!gui) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel Server"));
    const bool headless = !gui;

    vts::QtEventLoop loop;
    std::unique_ptr<vts::Dialogs> consoleDialogs;
    vts::TerminalBell bell;
    vts::ConsoleMonitorView consoleView;
    if (headless) {
        consoleDialogs = std::make_unique<vts::ConsoleDialogs>(vts::Dialogs::Answer::Yes);
        if (vts::servicelog::isJournal(STDERR_FILENO)) {
            consoleDialogs =
                std::make_unique<vts::servicelog::JournalDialogs>(std::move(consoleDialogs));
        }
    }
    vts::Dialogs& dialogs = headless ? *consoleDialogs : gui->dialogs();
    vts::AlertSound& sound = headless ? static_cast<vts::AlertSound&>(bell) : gui->sound();
    vts::MonitorView& view = headless ? static_cast<vts::MonitorView&>(consoleView) : gui->view();
    vts::ProcessLauncher launcher;
    vts::AlertMailer mailer;

    vts::MonitorCore::Options options;
    options.workingDir = QDir::currentPath();
    options.programDir = QCoreApplication::applicationDirPath();
    vts::MonitorCore core(loop, dialogs, launcher, view, sound, mailer, options);
    if (headless) {
        const bool journal = vts::servicelog::stdoutIsJournal();
        core.status().setEcho([journal](const QString& line) {
            const QByteArray bytes =
                (journal ? vts::servicelog::journalLine(line) : line).toLocal8Bit();
            std::fprintf(stdout, "%s\n", bytes.constData());
            std::fflush(stdout);
        });
    }
    // Made before the start-up, which shows it; gone before the core.
    const std::unique_ptr<QObject> window = headless ? nullptr : gui->createWindow(core);

    // The service manager's view; told first of a stop, so that its
    // watchdog does not end the orderly stop, during which no tick runs.
    const QDateTime started = QDateTime::currentDateTime();
    auto status = [&core, &options, &started] {
        return vts::controlstatus::build(core, options.workingDir, started);
    };
    vts::ServiceNotifier notifier([&status] { return vts::controlstatus::summary(status()); });
    vts::ShutdownSignals stopSignals;
    QObject::connect(&stopSignals, &vts::ShutdownSignals::stopRequested, &core, [&core, &notifier] {
        notifier.stopping();
        core.Form_Unload(false);
    });
    QObject::connect(&core, &vts::MonitorCore::ended, &core,
                     [](int code) { QCoreApplication::exit(code); });

    if (!core.start() || core.hasEnded()) {
        return core.hasEnded() ? core.exitCode() : 1;
    }
    // The control socket, once started.
    vts::ControlSocket control(
        {status, [&core] { return core.LoadConfig(); },
         [&core](const QString& action, const QString& name, QString* error) {
             return core.pendingAction(action, name, error);
         }});
    vts::wireControlSocket(control, core);
    if (QString why; !control.listen(vts::ControlSocket::folder(options.workingDir), &why)) {
        core.AddStatus(QStringLiteral("Warning: no control socket: ") + why);
    }
    notifier.ready();
    QObject::connect(&core, &vts::MonitorCore::ticked, &notifier, &vts::ServiceNotifier::alive);
    if (const QString warning = vts::servicelog::rootWarning(::geteuid()); !warning.isEmpty()) {
        core.AddStatus(warning);
    }
    return QCoreApplication::exec();
}
