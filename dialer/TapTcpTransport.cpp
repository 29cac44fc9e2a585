#include "TapTcpTransport.h"

#include "Tap.h"
#include "TcpLine.h"
#include "TraceLog.h"

#include <algorithm>

namespace vts {

void TapTcpTransport::deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) {
    TraceLog& trace = batch.trace();
    const double timeout = callTimeout(call);
    QList<Page*> todo;
    for (Page* p : pages) {
        if (p->numeric()) {
            if (p->pin.isEmpty()) {
                batch.setStatus(*p, PortStatus::Failed, QStringLiteral("no PIN"));
                continue;
            }
            p->blocks = tap::buildBlocks({tap::transliterate(p->pin), p->digits},
                                         p->rec.maxCharactersPerBlock);
        }
        todo.append(p);
    }
    if (todo.isEmpty()) {
        return;
    }
    trace.note(QStringLiteral("connecting to %1 port %2 for %3 page(s)")
                   .arg(m_target.host)
                   .arg(m_target.port)
                   .arg(todo.size()));
    TcpLine line;
    QString error;
    if (!line.connect(m_target.host, m_target.port, deadlineIn(timeout), &error)) {
        setReason(error);
        trace.note(error);
        return;
    }
    trace.note(QStringLiteral("connected"));
    Channel channel(line, trace);
    TapTimings timings = m_opt.tap;
    // Every wait of the call stays within the record's time-out.
    timings.t3 = std::min(timings.t3, timeout);
    const TapSessionEnd end = deliverTapSession(
        channel, timings, tap::transliterate(call.tapPassword.trimmed()), todo, batch);
    setReason(end.reason);
    line.close();
    trace.note(QStringLiteral("connection closed"));
}

}  // namespace vts
