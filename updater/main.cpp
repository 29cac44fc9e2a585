#include "CommandLine.h"
#include "OnlyOne.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtEventLoop.h"
#include "QuietStart.h"
#include "ServerAddress.h"
#include "UpdaterActions.h"
#include "Version.h"
#include "frmUpdateVT.h"

#include "Launcher.h"

#include <QApplication>
#include <QGuiApplication>

int main(int argc, char** argv) {
    const char* const usage =
        "usage: updater\n"
        "The Vantrel client updater: compares FILEINFO.TXT in its own folder with\n"
        "the update server's and, when they differ, downloads the new client\n"
        "program VT.EXE there. updater.ini beside it names the server.\n"
        "  --help     show this text\n"
        "  --version  show the version\n";
    if (const int done = vts::handleHelpAndVersion(argc, argv, "updater", usage); done >= 0) {
        return done;
    }
    if (const int refused = vts::cli::refuseOptions(argc, argv, "updater", usage); refused >= 0) {
        return refused;
    }
    vts::quietStart();
    if (vts::noDisplay()) {
        vts::sayNoDisplay("updater", "Run it in a desktop session.");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("updater"));
    const QString folder = QCoreApplication::applicationDirPath();

    vts::QtDialogs dialogs;
    vts::OnlyOne guard(folder, QCoreApplication::applicationName());
    if (!guard.claim()) {
        // Another copy runs and has been asked to the front; or the program
        // folder cannot hold the guard's lock file, which is said, naming it.
        if (guard.error().isEmpty()) return 0;
        // Without a screen the message goes to standard error.
        vts::ConsoleDialogs console;
        vts::Dialogs& say = QGuiApplication::platformName() == QLatin1String("offscreen")
                                ? static_cast<vts::Dialogs&>(console)
                                : dialogs;
        say.show(QStringLiteral("The updater cannot start.\n") + guard.error(),
                 QString::fromLatin1(vts::UpdaterActions::kWarningTitle),
                 vts::Dialogs::Icon::Critical, vts::Dialogs::Buttons::Ok);
        return 1;
    }

    vts::QtEventLoop loop;
    vts::ProcessLauncher launcher;
    vts::UpdaterActions actions(vts::ProgramFolder(folder), vts::ServerAddress::load(folder), loop,
                                dialogs, launcher);
    // Quitting closes the open windows first; the actions make sure that
    // this neither declines nor starts VT.EXE a second time.
    QObject::connect(&actions, &vts::UpdaterActions::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    vts::frmUpdateVT w(actions, &guard);
    dialogs.setParent(&w);
    w.show();
    return app.exec();
}
