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

}  // namespace vts::sim
