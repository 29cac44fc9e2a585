#include "Dialogs.h"
#include "WindowTour.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>

// Saves a picture of every window of the configuration program into the
// folder given on the command line, against a sample store in a temporary
// folder. Run under a display (tools/screenshots.sh uses Xvfb).
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vtsconfigshots OUTPUT-FOLDER\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    QTemporaryDir temp;
    vts::tour::sampleStore(temp.path(), 3);
    QDir::setCurrent(temp.path());

    vts::ConsoleDialogs dialogs;
    vts::ConfigContext ctx{temp.path(), temp.path(), &dialogs, [] {},
                           [](const QString&) { return true; }};
    const bool ok = vts::tour::visitAll(ctx, [&out](QWidget& w, const QString& name) {
        const QString file = QDir(out).filePath(name + QStringLiteral(".png"));
        if (!w.grab().save(file))
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
        else
            std::printf("%s\n", qPrintable(file));
    });
    return ok ? 0 : 1;
}
