#pragma once

#include "Scenario.h"
#include "Session.h"

#include <QHash>
#include <QStringList>

// A GSM modem on a pseudo-terminal that takes SMS in PDU mode: AT, ATE,
// ATZ, AT+CMEE, AT+CPIN, AT+CMGF and AT+CMGS with its "> " prompt. Every
// PDU is decoded and checked (length, coding, addresses); the parts of a
// concatenated message are joined before the page is recorded. Scenario
// behaviours: `sim-pin=NNNN` (the SIM asks for this PIN),
// `reject-page[=NUMBER]` (+CMS ERROR 21), `drop-after=K` (the network is
// lost after K messages: +CMS ERROR 331), `hold-after=K` and `dead`.
// AT+CNMI with ds=1 routes status reports: a part that asks for one
// (TP-SRR) gets "+CDS: <length>" and its SMS-STATUS-REPORT PDU
// `report-after` seconds later, between commands or just before the
// answer to one (never inside a PDU's entry); `report-fail[=NUMBER]`,
// `report-trying`, `report-before=prompt|cmgs`, `no-reports` and
// `no-cnmi` shape them.
namespace vts::sim {

class GsmModem final : public Session {
public:
    GsmModem(int comPort, const Scenario& scenario, Sink sink);
    void receive(const QByteArray& bytes, double now) override;
    void tick(double now) override;
    double nextDeadline() const override;
    QByteArray takeOutput() override;
    bool wantsClose() const override { return false; }
    // The dialer closed the device: command state resets, the SIM stays unlocked.
    void closed(double now) override;

private:
    void commandLine(const QByteArray& line);
    void pdu(const QByteArray& hex);
    void result(const QByteArray& text) { m_out += "\r\n" + text + "\r\n"; }
    void violation(const QString& what);
    // Puts the status reports due by `now` on the line.
    void sendDueReports(double now);

    int m_com;
    const Scenario& m_scenario;
    Sink m_sink;
    bool m_echo = true;
    bool m_pduMode = false;
    bool m_unlocked = false;
    bool m_answering = true;
    int m_expectLength = -1;  // in PDU entry: the announced TPDU length
    QByteArray m_cmd, m_pdu, m_out;
    int m_messages = 0, m_pages = 0, m_nextRef = 1;
    bool m_routeReports = false;  // AT+CNMI asked for +CDS
    double m_now = 0;
    struct DueReport {
        double at;
        QByteArray text;  // "+CDS: <length>" and the PDU line
    };
    QList<DueReport> m_due;
    double m_opened = -1;
    QHash<QString, QStringList> m_partial;  // "number/ref" -> parts by sequence
    QStringList m_violations;
};

}  // namespace vts::sim
