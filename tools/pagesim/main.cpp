// pagesim: simulated Hayes modems on pseudo-terminals, each connected on
// dialling to a strict paging terminal; paging terminals, SNPP servers and
// WCTP endpoints on loopback TCP ports; GSM modems on pseudo-terminals (one
// row each in EndpointKinds.cpp). Writes the matching calvex.ini, prints
// "ready" and records accepted pages (and calls) as JSON lines.
#include "EndpointKinds.h"
#include "SimOptions.h"
#include "Simulator.h"
#include "Version.h"

#include <IniFile.h>

#include <QCoreApplication>

#include <cstdio>

using namespace vts::sim;

namespace {

int die(const QString& msg) {
    std::fprintf(stderr, "pagesim: %s\n", qPrintable(msg));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pagesim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vts::suiteVersion()));
    QString error;
    const auto o = SimOptions::parse(app, &error);
    if (!o) {
        return die(error);
    }
    Simulator sim(o->dir);
    const Sink sink = Simulator::recorder(o->pagesFile, o->callsFile);
    const auto kinds = endpointKinds();
    // Pseudo-terminals first, then the listeners, each in the table's order.
    for (const bool pty : {true, false}) {
        for (size_t i = 0; i < kinds.size(); ++i) {
            for (const int com : kinds[i].pty == pty ? o->coms[i] : QList<int>{}) {
                if (!sim.add(kinds[i], {com, o->scenario, o->timings, o->guard, sink}, &error)) {
                    return die(error);
                }
            }
        }
    }
    // calvex.ini appears, complete, only once every port is ready.
    vts::IniFile ini = vts::IniFile::load(o->iniPath);
    ini.setSection(QStringLiteral("ports"), sim.iniPorts());
    if (!ini.save(o->iniPath)) {
        return die(QStringLiteral("cannot write %1").arg(o->iniPath));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return sim.run(&error) ? 0 : die(error);
}
