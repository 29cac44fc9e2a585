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
    TcpLine line;
    if (!connectTcp(line, m_target, todo.size(), timeout, trace)) {
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
