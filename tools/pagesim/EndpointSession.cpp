#include "EndpointSession.h"

#include "TapTerminal.h"

#include <QJsonArray>

namespace vts::sim {

EndpointSession::EndpointSession(QString endpoint, int comPort, const Behaviour& behaviour,
                                 double now, Sink sink)
    : m_com(comPort),
      m_b(behaviour),
      m_sink(std::move(sink)),
      m_endpoint(std::move(endpoint)),
      m_start(now) {
    m_answering = !m_b.dead && m_b.dial != Behaviour::Dial::Silent;
}

double EndpointSession::nextDeadline() const { return kNever; }

QByteArray EndpointSession::takeOutput() {
    QByteArray o;
    o.swap(m_out);
    return o;
}

void EndpointSession::violation(const QString& what) {
    if (m_violations.size() < 50) {
        m_violations.append(what);
    }
}

void EndpointSession::closed(double now) {
    if (m_recorded) {
        return;
    }
    m_recorded = true;
    QString end = m_end;
    if (end.isEmpty()) {
        end = m_answering || m_pages > 0 ? QStringLiteral("connection closed by the dialer")
                                         : QStringLiteral("never answered");
    }
    m_sink(QStringLiteral("call"),
           QJsonObject{{QStringLiteral("time"), recordTime()},
                       {QStringLiteral("port"), m_com},
                       {QStringLiteral("endpoint"), m_endpoint},
                       {QStringLiteral("seconds"), now - m_start},
                       {QStringLiteral("pages"), m_pages},
                       {QStringLiteral("end"), end},
                       {QStringLiteral("violations"), QJsonArray::fromStringList(m_violations)}});
}

void EndpointSession::receiveLines(const QByteArray& bytes, qsizetype maxLine, const char* tooLong,
                                   const std::function<void(QByteArray)>& line) {
    if (!m_answering || m_close) {
        return;
    }
    m_in += bytes;
    for (;;) {
        const qsizetype nl = m_in.indexOf('\n');
        if (nl < 0) {
            if (m_in.size() > maxLine) {
                violation(QStringLiteral("line longer than %1 bytes").arg(maxLine));
                m_out += QByteArray(tooLong) + "\r\n";
                m_end = QStringLiteral("line too long");
                m_close = true;
            }
            return;
        }
        QByteArray text = m_in.left(nl);
        m_in.remove(0, nl + 1);
        if (!text.endsWith('\r')) {
            violation(QStringLiteral("line ended by LF alone"));
        } else {
            text.chop(1);
        }
        line(text);
        if (m_close || !m_answering) {
            return;
        }
    }
}

bool EndpointSession::stopsBeforeNextPage() {
    if (m_b.dropAfter >= 0 && m_pages >= m_b.dropAfter) {
        m_drop = m_close = true;
        m_end = QStringLiteral("dropped after %1 page(s)").arg(m_pages);
        return true;
    }
    if (m_b.holdAfter >= 0 && m_pages >= m_b.holdAfter) {
        m_answering = false;
        m_end = QStringLiteral("stopped answering after %1 page(s)").arg(m_pages);
        return true;
    }
    return false;
}

}  // namespace vts::sim
