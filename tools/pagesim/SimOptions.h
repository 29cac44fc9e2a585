#pragma once

#include "EndpointKinds.h"
#include "Scenario.h"
#include "TapTerminal.h"

#include <QList>
#include <QString>

#include <optional>
#include <vector>

class QCoreApplication;

// pagesim's command line: the folder, the record files, the scenario, the
// terminal's timings and, per endpoint kind (one option each, from the
// table), the COM ports it serves. --help and --version end the program.
namespace vts::sim {

struct SimOptions {
    QString dir;  // absolute, created
    QString pagesFile, callsFile, iniPath;
    Scenario scenario;
    TapTerminal::Timings timings;
    double guard = 0.2;
    std::vector<QList<int>> coms;  // per row of endpointKinds()

    // nullopt with *error ("" when the message was already printed).
    static std::optional<SimOptions> parse(const QCoreApplication& app, QString* error);
};

}  // namespace vts::sim
