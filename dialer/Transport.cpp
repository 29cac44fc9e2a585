#include "Transport.h"

#include "Line.h"
#include "TcpLine.h"
#include "TraceLog.h"

#include <algorithm>

namespace vts {

void Transport::deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) {
    m_batch = &batch;
    m_call = &call;
    m_timeout = callTimeout(call);
    const QList<Page*> todo = take(pages);
    bool answered = false;  // the carrier answered at least one page
    if (!todo.isEmpty() && open(todo)) {
        for (Page* page : todo) {
            if (!page->waiting()) {
                continue;
            }
            const Outcome o = send(*page);
            if (o.kind == Outcome::Kind::Down) {
                setReason(o.why);
                break;
            }
            if (o.kind == Outcome::Kind::Status) {
                batch.setStatus(*page, o.status, o.why, o.final);
            }
            answered = answered || o.kind == Outcome::Kind::Status || o.answered;
        }
        close(todo);
    }
    answered = answered || m_answered;
    for (const Page* p : todo) {
        answered = answered || p->status == static_cast<std::int16_t>(PortStatus::Sent);
    }
    if (!todo.isEmpty() && !answered && !Cancellation::requested()) {
        QString why = m_reason;
        if (why.isEmpty()) {
            why = QStringLiteral("no page was answered");
        }
        batch.portFault(false, why);
    }
    failWaiting(pages, Cancellation::requested() ? PortStatus::Cancelled : PortStatus::Failed,
                m_reason.isEmpty() ? QStringLiteral("not confirmed") : m_reason);
}

TraceLog& Transport::trace() { return m_batch->trace(); }

bool Transport::connectTcp(TcpLine& line, qsizetype pages) {
    trace().note(QStringLiteral("connecting to %1 port %2 for %3 page(s)")
                     .arg(m_target.host)
                     .arg(m_target.port)
                     .arg(pages));
    QString error;
    if (!line.connect(m_target.host, m_target.port, deadlineIn(m_timeout), &error)) {
        setReason(error);
        trace().note(error);

        return false;
    }
    return true;
}

void Transport::failWaiting(const QList<Page*>& pages, PortStatus status, const QString& why) {
    for (Page* p : pages) {
        if (p->waiting()) {
            m_batch->setStatus(*p, status, why);
        }
    }
}

double callTimeout(const PortRecord& call) {
    return call.timeout <= 0 ? 60.0 : std::min<double>(call.timeout, 300.0);
}

}  // namespace vts
