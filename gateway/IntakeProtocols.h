#pragma once

#include "GatewayConfig.h"
#include "Session.h"

#include <memory>
#include <span>

// The protocols vtsgate takes pages by, one row each: the name its log
// lines and port() use, the vtsgate.ini section whose presence turns it on
// and whose `listen =` says where, and the session each connection gets.
// A new protocol is one row here, one Session class and its Listen in
// GatewayConfig.
namespace vts::gate {

class PageSubmitter;

struct IntakeProtocol {
    const char* name;               // "SNPP"
    const char* section;            // "snpp"
    Listen GatewayConfig::*listen;  // where it listens
    std::unique_ptr<Session> (*session)(PageSubmitter& desk, const QString& peer,
                                        const Session::Io& io);
};

std::span<const IntakeProtocol> intakeProtocols();
// The row of the vtsgate.ini section `section` (lower case); null for others.
const IntakeProtocol* intakeProtocolOf(const QString& section);

}  // namespace vts::gate
