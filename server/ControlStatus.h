#pragma once

#include <QDateTime>
#include <QJsonObject>

namespace vts {

class MonitorCore;

// The running server's state for the control socket and the service
// manager: version, start, check timing, ports with the state of their port
// file, the queue folders' counts, the pages in the pager control and the
// last status lines.
namespace controlstatus {

inline constexpr int kLines = 50;

QJsonObject build(MonitorCore& core, const QString& workingDir, const QDateTime& started);
// One line for systemd's STATUS=: "3 in queue, 1 pending, port 1 dialling".
QString summary(const QJsonObject& status);

}  // namespace controlstatus

class ControlSocket;
// Feeds `control` with the server's status lines and its pager control's
// page events (sent, failed, cancelled, retried, each failure's cause).
void wireControlSocket(ControlSocket& control, MonitorCore& core);
}  // namespace vts
