#include "TapTcpTransport.h"

#include "Dialer.h"
#include "Tap.h"
#include "TraceLog.h"

#include <algorithm>

namespace vts {

QList<Page*> TapTcpTransport::take(const QList<Page*>& pages) {
    QList<Page*> todo;
    for (Page* p : pages) {
        if (p->numeric()) {
            if (p->pin.isEmpty()) {
                batch().setStatus(*p, PortStatus::Failed, QStringLiteral("no PIN"));
                continue;
            }
            p->blocks = tap::buildBlocks({tap::transliterate(p->pin), p->digits},
                                         p->rec.maxCharactersPerBlock);
        }
        todo.append(p);
    }
    return todo;
}

bool TapTcpTransport::open(const QList<Page*>& pages) {
    if (!connectTcp(m_line, pages.size())) {
        return false;
    }
    trace().note(QStringLiteral("connected"));
    m_channel = std::make_unique<Channel>(m_line, trace());
    TapTimings timings = m_opt.tap;
    // Every wait of the call stays within the record's time-out.
    timings.t3 = std::min(timings.t3, timeout());
    m_call = std::make_unique<TapCall>(*m_channel, timings, batch());
    m_call->logOn(tap::transliterate(call().tapPassword.trimmed()));
    return true;
}

void TapTcpTransport::close(const QList<Page*>& pages) {
    m_call->end(pages);
    setReason(m_call->reason());
    m_line.close();
    trace().note(QStringLiteral("connection closed"));
}

}  // namespace vts
