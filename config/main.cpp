#include "ConfigProgram.h"
#include "QtDialogs.h"
#include "frmMain.h"

#ifdef VTS_WITH_REPORTS
#include "ReportsPageActions.h"
#endif

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

// VTSConfig: the configuration program. Runs with the folder holding the
// stores as its working directory.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VTSConfig"));
    QApplication::setQuitOnLastWindowClosed(false);

    vts::QtDialogs dialogs;
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
    program.onMainCreated = [&dialogs](frmMain& main) {
        dialogs.setParent(&main);
#ifdef VTS_WITH_REPORTS
        main.setReportsActions(vts::createReportsPageActions(main));
#endif
    };
    if (!program.start() || ended) return 0;
    return QApplication::exec();
}
