#pragma once

#include <QDateTime>
#include <QString>

namespace vts {

// What a port's runs have lately done, for the server's status: the size of
// the batch on the line and since when, and the last page settled there.
struct PortActivity {
    int batch = 0;       // pages of the run on the line; 0 when none
    QDateTime since;     // when that run started, or the port was last freed
    QString lastId;      // the last page settled on this port
    QString lastResult;  // "sent", "failed", "cancelled" or "retried"
    QString lastCause;   // why it was not delivered; empty when it was
    QDateTime lastAt;
};

}  // namespace vts
