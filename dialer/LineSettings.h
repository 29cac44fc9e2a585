#pragma once

#include <QString>

#include <optional>

// Serial line settings in the usual "speed,parity,data,stop[,flow]" form,
// e.g. "1200,E,7,1" or "2400,N,8,1,X". Empty text means 1200,E,7,1 with
// XON/XOFF flow control, the paging protocol's own line.
namespace vts {

struct LineSettings {
    int speed = 1200;
    char parity = 'E';  // N, E, O, M or S
    int dataBits = 7;   // 5..8
    int stopBits = 1;   // 1 or 2
    char flow = 'X';    // X (XON/XOFF), R (RTS/CTS) or N (none)

    // nullopt for text that is not a valid setting.
    static std::optional<LineSettings> parse(const QString& text);
    QString toString() const;
};

}  // namespace vts
