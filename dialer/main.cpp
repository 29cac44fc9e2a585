// calvex PORTINDEX: delivers the batch in "mordax<PORTINDEX>.dat" of the
// working directory and writes the results back into it. Exit status 3: the
// run did not touch the port file (its server had ended, or another run
// holds the port). calvex --receive COMPORT: stays bound to that SMPP
// port's SMS centre for delivery receipts until stopped.
#include "Dialer.h"
#include "Journal.h"
#include "Line.h"
#include "Paths.h"
#include "ReceiptReceiver.h"
#include "RunGuard.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (const int done = vts::handleHelpAndVersion(
            argc, argv, "calvex",
            "usage: calvex PORTINDEX (1 to 8)\n"
            "       calvex --receive COMPORT (1 to 99)\n"
            "The Vantrel dialer: delivers the batch in mordax<PORTINDEX>.dat of the\n"
            "working directory and writes the results back into it. The pager control\n"
            "starts it; calvex.ini maps COM ports to devices and network carriers.\n"
            "  --receive  keep a receiver bound to the SMPP port's SMS centre for\n"
            "             delivery receipts until SIGTERM or SIGINT\n"
            "  --help     show this text\n"
            "  --version  show the version\n");
        done >= 0) {
        return done;
    }
    QCoreApplication app(argc, argv);
    vts::Cancellation::install();
    const QString dir = QDir::currentPath();
    if (argc == 3 && QLatin1String(argv[1]) == QLatin1String("--receive")) {
        bool ok = false;
        const int port = QString::fromLocal8Bit(argv[2]).toInt(&ok);
        if (!ok || port < 1 || port > 99) {
            std::fprintf(stderr, "usage: calvex --receive COMPORT (1 to 99)\n");
            return 2;
        }
        vts::ReceiptReceiver receiver(dir, vts::DialerOptions::fromIni(vts::paths::settingsFile(
                                               QStringLiteral("calvex.ini"), dir)));
        return receiver.run(port);
    }
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
