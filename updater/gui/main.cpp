#include "OnlyOne.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtEventLoop.h"
#include "ServerAddress.h"
#include "UpdaterActions.h"
#include "Version.h"
#include "frmUpdateVT.h"

#include "Launcher.h"

#include <QApplication>

int main(int argc, char** argv) {
    if (const int done = vts::handleHelpAndVersion(
            argc, argv, "updater",
            "usage: updater\n"
            "The Vantrel client updater: compares FILEINFO.TXT in its own folder with\n"
            "the update server's and, when they differ, downloads the new client\n"
            "program VT.EXE there. updater.ini beside it names the server.\n"
            "  --help     show this text\n"
            "  --version  show the version\n");
        done >= 0) {
        return done;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("updater"));
    const QString folder = QCoreApplication::applicationDirPath();

    vts::OnlyOne guard(folder, QCoreApplication::applicationName());
    if (!guard.claim()) return 0;

    vts::QtEventLoop loop;
    vts::QtDialogs dialogs;
    vts::ProcessLauncher launcher;
    vts::UpdaterActions actions(vts::ProgramFolder(folder), vts::ServerAddress::load(folder), loop,
                                dialogs, launcher);
    QObject::connect(&actions, &vts::UpdaterActions::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    vts::frmUpdateVT w(actions, &guard);
    dialogs.setParent(&w);
    w.show();
    return app.exec();
}
