#pragma once

#include "Scenario.h"
#include "Session.h"

#include <QStringList>

// An SNPP server (RFC 1861 levels 1 and 2: PAGE, MESS, DATA, SEND, RESE,
// QUIT, LEVE, HELP) for one connection. Strict about what a client sends:
// lines must end in CR LF and carry 7-bit text; anything else is refused
// and recorded as a violation. Scenario behaviours: `password=PW` (the
// PAGE password), `reject-page[=PIN]`, `drop-after=K` (the connection
// drops at the SEND after K pages), `hold-after=K`, `silent`/`dead`.
namespace vts::sim {

class SnppSession final : public Session {
public:
    SnppSession(int comPort, const Behaviour& behaviour, double now, Sink sink);
    void receive(const QByteArray& bytes, double now) override;
    void tick(double) override {}
    double nextDeadline() const override;
    QByteArray takeOutput() override;
    bool wantsClose() const override { return m_close; }
    bool dropNow() const override { return m_drop; }
    void closed(double now) override;

private:
    void line(QByteArray text);
    void reply(const QByteArray& text) { m_out += text + "\r\n"; }
    void violation(const QString& what);

    int m_com;
    Behaviour m_b;
    Sink m_sink;
    double m_start;
    bool m_answering = true;
    QByteArray m_in, m_out;
    bool m_inData = false;
    QByteArray m_data;
    QByteArray m_pin;
    bool m_havePin = false;
    std::optional<QByteArray> m_message;
    int m_pages = 0;
    bool m_close = false, m_drop = false, m_recorded = false;
    QString m_end;
    QStringList m_violations;
};

}  // namespace vts::sim
