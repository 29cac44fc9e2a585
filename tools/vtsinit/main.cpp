// vtsinit DIR [--queue PATH] [--modem N]...: makes a ready working directory.
#include "Version.h"
#include "VtsInit.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (const int done =
            vts::handleHelpAndVersion(argc, argv, "vtsinit", qPrintable(vts::vtsinit::usage()));
        done >= 0) {
        return done;
    }
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = vts::vtsinit::parseArguments(app.arguments().mid(1), &error);
    if (!options) {
        std::fprintf(stderr, "vtsinit: %s\n%s", qPrintable(error),
                     qPrintable(vts::vtsinit::usage()));
        return 2;
    }
    try {
        vts::vtsinit::Result made = vts::vtsinit::makeWorkingDirectory(*options);
        for (const QString& line : made.made) std::printf("made %s\n", qPrintable(line));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vtsinit: %s\n", e.what());
        return 1;
    }
    return 0;
}
