// vtsreceipts COMPORT: keeps a receiver bound to the SMS centre of an SMPP
// port for delivery receipts, and keeps what the dialer's runs noted of
// delivery, in tblDelivery of the log store, until SIGTERM or SIGINT.
#include "Dialer.h"
#include "Line.h"
#include "Paths.h"
#include "ReceiptReceiver.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (const int done = vts::handleHelpAndVersion(
            argc, argv, "vtsreceipts",
            "usage: vtsreceipts COMPORT (1 to 99)\n"
            "Keeps a receiver bound to the SMS centre of the SMPP port COMPORT of\n"
            "calvex.ini in the working directory, and keeps delivery receipts and the\n"
            "dialer's delivery notes in the log store, until SIGTERM or SIGINT.\n"
            "  --help     show this text\n"
            "  --version  show the version\n");
        done >= 0) {
        return done;
    }
    QCoreApplication app(argc, argv);
    vts::Cancellation::install();
    bool ok = false;
    const int port = argc == 2 ? QString::fromLocal8Bit(argv[1]).trimmed().toInt(&ok) : 0;
    if (!ok || port < 1 || port > 99) {
        std::fprintf(stderr, "usage: vtsreceipts COMPORT (1 to 99)\n");
        return 2;
    }
    const QString dir = QDir::currentPath();
    vts::ReceiptReceiver receiver(dir, vts::DialerOptions::fromIni(vts::paths::settingsFile(
                                           QStringLiteral("calvex.ini"), dir)));
    return receiver.run(port);
}
