// vtsctl COMMAND ...: see the suite's state and change its settings from a
// shell, in the working directory that holds the stores.
#include "Version.h"
#include "VtsCtl.h"

#include <QCoreApplication>
#include <QDir>

int main(int argc, char** argv) {
    if (const int done =
            vts::handleHelpAndVersion(argc, argv, "vtsctl", qPrintable(vts::ctl::usage()));
        done >= 0) {
        return done;
    }
    QCoreApplication app(argc, argv);
    return vts::ctl::run(QCoreApplication::arguments().mid(1), QDir::currentPath());
}
