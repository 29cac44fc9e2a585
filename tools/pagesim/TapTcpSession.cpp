#include "TapTcpSession.h"

#include <QDateTime>
#include <QJsonArray>

namespace vts::sim {

QString recordTime() { return QDateTime::currentDateTime().toString(Qt::ISODateWithMs); }

TapTcpSession::TapTcpSession(int comPort, const Behaviour& behaviour, TapTerminal::Timings timings,
                             double now, Sink sink)
    : m_com(comPort), m_sink(std::move(sink)), m_start(now) {
    if (!behaviour.dead && behaviour.dial != Behaviour::Dial::Silent) {
        m_terminal = std::make_unique<TapTerminal>(behaviour, timings, now);
    }
}

void TapTcpSession::pump() {
    if (!m_terminal) {
        return;
    }
    const QByteArray out = m_terminal->takeOutput();
    m_sent += out.size();
    m_out += out;
    for (const AcceptedPage& p : m_terminal->takePages()) {
        m_sink(QStringLiteral("page"),
               QJsonObject{{QStringLiteral("time"), recordTime()},
                           {QStringLiteral("port"), m_com},
                           {QStringLiteral("endpoint"), QStringLiteral("tcp")},
                           {QStringLiteral("kind"), QStringLiteral("alpha")},
                           {QStringLiteral("pin"), QString::fromLatin1(p.pin)},
                           {QStringLiteral("text"), QString::fromLatin1(p.text)}});
    }
}

void TapTcpSession::receive(const QByteArray& bytes, double now) {
    m_in += bytes.size();
    if (!m_terminal || m_terminal->finished()) {
        return;
    }
    for (char c : bytes) {
        m_terminal->receive(c, now);
    }
    pump();
}

void TapTcpSession::tick(double now) {
    if (m_terminal) {
        m_terminal->tick(now);
        pump();
    }
}

double TapTcpSession::nextDeadline() const {
    return m_terminal ? m_terminal->nextDeadline() : kNever;
}

QByteArray TapTcpSession::takeOutput() {
    QByteArray o;
    o.swap(m_out);
    return o;
}

void TapTcpSession::closed(double now) {
    if (m_recorded) {
        return;
    }
    m_recorded = true;
    QString end = QStringLiteral("never answered");
    if (m_terminal) {
        end = m_terminal->finished() ? m_terminal->endReason()
                                     : QStringLiteral("connection closed by the dialer");
    }
    m_sink(QStringLiteral("call"),
           QJsonObject{{QStringLiteral("time"), recordTime()},
                       {QStringLiteral("port"), m_com},
                       {QStringLiteral("endpoint"), QStringLiteral("tcp")},
                       {QStringLiteral("seconds"), now - m_start},
                       {QStringLiteral("bytes_in"), m_in},
                       {QStringLiteral("bytes_out"), m_sent},
                       {QStringLiteral("logons"), m_terminal ? m_terminal->logons() : 0},
                       {QStringLiteral("pages"), m_terminal ? m_terminal->pagesAccepted() : 0},
                       {QStringLiteral("end"), end},
                       {QStringLiteral("violations"),
                        QJsonArray::fromStringList(m_terminal ? m_terminal->violations()
                                                              : QStringList())}});
}

}  // namespace vts::sim
