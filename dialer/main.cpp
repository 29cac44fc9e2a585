// calvex PORTINDEX: delivers the batch in "mordax<PORTINDEX>.dat" of the
// working directory and writes the results back into it. Exit status 3: the
// run did not touch the port file (its server had ended, or another run
// holds the port).
#include "Dialer.h"
#include "Journal.h"
#include "Line.h"
#include "Paths.h"
#include "RunGuard.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (const int done = vts::handleHelpAndVersion(
            argc, argv, "calvex",
            "usage: calvex PORTINDEX (1 to 8)\n"

            "The Vantrel dialer: delivers the batch in mordax<PORTINDEX>.dat of the\n"
            "working directory and writes the results back into it. The pager control\n"
            "starts it; calvex.ini maps COM ports to devices and network carriers.\n"

            "  --help     show this text\n"
            "  --version  show the version\n");
        done >= 0) {
        return done;
    }
    QCoreApplication app(argc, argv);
    vts::Cancellation::install();
    const QString dir = QDir::currentPath();
    // The pager control passes the index with leading blanks; a shell may
    // also split it off as a separate argument.
    QString arg;
    for (int i = 1; i < argc; ++i) {
        arg += QString::fromLocal8Bit(argv[i]);
    }
    arg = arg.trimmed();
    bool ok = false;
    const int index = arg.toInt(&ok);
    if (!ok || index < 1 || index > 8 || arg.startsWith(u'+') || arg.startsWith(u'-')) {
        std::fprintf(stderr, "usage: calvex PORTINDEX (1 to 8)\n");
        return 2;
    }
    vts::RunGuard guard(dir, index);
    if (QString why; !guard.begin(&why)) {
        vts::journal::write(stderr, vts::journal::kWarning,
                            QStringLiteral("calvex: port %1 left alone: %2").arg(index).arg(why));
        return 3;
    }
    vts::Dialer dialer(dir, vts::DialerOptions::fromIni(
                                vts::paths::settingsFile(QStringLiteral("calvex.ini"), dir)));
    return dialer.run(index);
}
