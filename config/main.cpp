#include "CommandLine.h"
#include "ConfigProgram.h"
#include "Dialogs.h"
#include "QuietStart.h"
#include "Version.h"
#include "WindowDialogs.h"
#include "frmMain.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QUrl>

// VTSConfig: the configuration program. Runs with the folder holding the
// stores as its working directory. Without a display it runs on the
// offscreen platform and writes its message boxes to standard error, so a
// start that cannot go on (second copy, missing store) ends with status 1;
// one that could go on says that its windows need a display and ends with
// status 1 as well.
int main(int argc, char** argv) {
    const char* const usage =
        "usage: vtsconfig\n"
        "The Vantrel configuration program: settings, modems, clients, reports,\n"
        "log purge and pending files. Run it in the working directory that holds\n"
        "VTSCFG.MDB.\n"
        "  --help     show this text\n"
        "  --version  show the version\n";
    if (const int done = vts::handleHelpAndVersion(argc, argv, "vtsconfig", usage); done >= 0) {
        return done;
    }
    if (const int refused = vts::cli::refuseOptions(argc, argv, "vtsconfig", usage); refused >= 0) {
        return refused;
    }
    vts::quietStart();
    const bool headless = vts::noDisplay();
    if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VTSConfig"));
    QApplication::setQuitOnLastWindowClosed(false);

    vts::WindowDialogs windowDialogs;
    vts::ConsoleDialogs consoleDialogs(vts::Dialogs::Answer::No);
    const bool console = QGuiApplication::platformName() == QLatin1String("offscreen");
    vts::Dialogs& dialogs = console ? static_cast<vts::Dialogs&>(consoleDialogs) : windowDialogs;
    bool ended = false;
    vts::ConfigContext context;
    context.workDir = QDir::currentPath();
    context.programDir = QCoreApplication::applicationDirPath();
    context.dialogs = &dialogs;
    context.endProgram = [&ended] {
        ended = true;
        QCoreApplication::exit(0);
    };
    context.openFolder = [](const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };

    vts::ConfigProgram program(context);
    program.onMainCreated = [&windowDialogs](frmMain& main) { windowDialogs.setFallback(&main); };
    if (!program.start()) return 1;
    if (ended) return 0;
    // A start that could go on without a display would wait for a window
    // nobody sees: said plainly, with the shell's way to the same tasks.
    if (headless) {
        vts::sayNoDisplay("vtsconfig", "From a shell, vtsctl does the same tasks.");
        return 1;
    }
    return QApplication::exec();
}
