// vtspage: drops one page into a queue folder as a queue message file, for
// scripts and demonstrations. Prints the file's name.
#include "PageCommand.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vtspage"));
    return vts::page::run(QCoreApplication::arguments(), "vtspage");
}
