#pragma once

#include <QSet>
#include <QString>

namespace vts {

// The COM ports (1 to 99) that the calvex.ini at `settingsPath` gives a
// network carrier, as the dialer reads the file: every port kind but the
// modems (a Hayes modem on a serial device, a GSM modem). A port without an
// entry, or with one the dialer refuses, counts as a modem, so it keeps the
// modems' waits.
QSet<int> networkComPorts(const QString& settingsPath);

}  // namespace vts
