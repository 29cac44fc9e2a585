#include "OnlyOne.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtEventLoop.h"
#include "ServerAddress.h"
#include "UpdaterActions.h"
#include "frmUpdateVT.h"

#include "Launcher.h"

#include <QApplication>

int main(int argc, char** argv) {
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
