#pragma once

#include "Transport.h"

#include <QString>

#include <memory>
#include <span>

// The port kinds a COM port's entry in calvex.ini can name, one row each:
// how the entry is written, the settings the kind reads, how a target is
// told in the trace, and the transport that serves it. A new kind is one
// row here and one Transport class; the parse of [ports] entries, the
// settings and the dialer's choice of transport all go through the rows.
namespace vts {

class IniFile;

struct PortKind {
    PortTarget::Kind kind;
    const char* scheme;     // before the first colon; empty for a bare device path
    const char* form;       // the entry as written, e.g. "tcp:HOST:PORT"
    const char* settings;   // calvex.ini keys the kind reads of its own, e.g. "[snpp] messmax"
    const char* summary;    // one line for the documentation and the tests
    const char* malformed;  // refusal of a bad entry; %1 is the entry
    // Reads the entry's part after the scheme into `target`; false when malformed.
    bool (*address)(const QString& rest, PortTarget& target);
    QString (*describe)(const PortTarget& target);
    // Reads the kind's own settings; null when it has none.
    void (*readSettings)(const IniFile& ini, DialerOptions& options);
    std::unique_ptr<Transport> (*create)(const PortTarget& target, const DialerOptions& options);
};

std::span<const PortKind> portKinds();
// The row of `kind`; every kind has one (a test holds the table to that).
const PortKind& portKind(PortTarget::Kind kind);

}  // namespace vts
