#pragma once

#include "Scenario.h"
#include "Session.h"
#include "TapTerminal.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>

// The kinds of endpoint pagesim simulates, one row each: the option that
// lists the COM ports a kind serves, its help text, whether it sits on a
// pseudo-terminal or a loopback TCP port, how it is started and what it
// writes into calvex.ini's [ports]. A new kind is one row here and one
// Session class.
namespace vts::sim {

// What every endpoint is started with.
struct EndpointContext {
    int com = 0;
    const Scenario& scenario;
    TapTerminal::Timings timings;
    double guard = 0.2;  // the modem's escape guard time
    Sink sink;
};

// Makes the session for the pseudo-terminal (once) or for each connection.
using SessionFactory = std::function<std::unique_ptr<Session>(double now)>;

struct EndpointKind {
    const char* option;       // "--OPTION LIST" names the COM ports
    const char* help;         // the option's help text
    const char* defaultList;  // used when no kind's option is given; null: none
    bool pty;                 // on a pseudo-terminal, else on a loopback TCP port
    const char* entry;        // calvex.ini [ports] value: %1 is the device link or TCP port
    SessionFactory (*start)(const EndpointContext& context);
};

std::span<const EndpointKind> endpointKinds();

}  // namespace vts::sim
