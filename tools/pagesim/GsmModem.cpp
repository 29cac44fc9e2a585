#include "GsmModem.h"

#include "TapTerminal.h"

#include <SmsPdu.h>
#include <Tap.h>

#include <QJsonArray>

#include <algorithm>

namespace vts::sim {

GsmModem::GsmModem(int comPort, const Scenario& scenario, Sink sink)
    : m_com(comPort), m_scenario(scenario), m_sink(std::move(sink)) {}

double GsmModem::nextDeadline() const {
    // Only reports tick() may send count: held ones would wake the loop for nothing.
    double next = kNever;
    if (m_expectLength >= 0 || !m_answering ||
        m_scenario.forPort(m_com).reportBefore != Behaviour::ReportBefore::Any) {
        return next;
    }
    for (const DueReport& r : m_due) {
        next = std::min(next, r.at);
    }
    return next;
}

void GsmModem::tick(double now) {
    m_now = now;
    if (m_expectLength < 0 && m_answering &&
        m_scenario.forPort(m_com).reportBefore == Behaviour::ReportBefore::Any) {
        sendDueReports(now);
    }
}

void GsmModem::sendDueReports(double now) {
    for (qsizetype i = 0; i < m_due.size();) {
        if (m_due[i].at <= now) {
            m_out += "\r\n" + m_due[i].text + "\r\n";
            m_due.removeAt(i);
        } else {
            ++i;
        }
    }
}

QByteArray GsmModem::takeOutput() {
    QByteArray o;
    o.swap(m_out);
    return o;
}

void GsmModem::violation(const QString& what) {
    if (m_violations.size() < 50) {
        m_violations.append(what);
    }
}

void GsmModem::receive(const QByteArray& bytes, double now) {
    const Behaviour b = m_scenario.forPort(m_com);
    if (b.dead || !m_answering) {
        return;
    }
    if (m_opened < 0) {
        m_opened = now;
    }
    m_now = now;
    for (char c : bytes) {
        if (m_expectLength >= 0) {
            if (c == 0x1A) {  // Ctrl-Z sends
                const QByteArray hex = m_pdu;
                m_pdu.clear();
                pdu(hex);
            } else if (c == 0x1B) {  // ESC abandons
                m_pdu.clear();
                m_expectLength = -1;
                result("OK");
            } else if (c != '\r' && c != '\n' && m_pdu.size() < 2048) {
                m_pdu.append(c);
            }
            if (!m_answering) {
                return;
            }
            continue;
        }
        if (m_echo) {
            m_out.append(c);
        }
        if (c == '\r') {
            const QByteArray line = m_cmd.trimmed();
            m_cmd.clear();
            if (!line.isEmpty()) {
                commandLine(line);
            }
        } else if (c != '\n' && m_cmd.size() < 512) {
            m_cmd.append(c);
        }
    }
}

void GsmModem::commandLine(const QByteArray& raw) {
    const QByteArray line = raw.toUpper();
    const Behaviour b = m_scenario.forPort(m_com);
    const bool needPin = b.simPin.has_value() && !m_unlocked;
    if (!line.startsWith("AT")) {
        return result("ERROR");
    }
    const QByteArray cmd = line.mid(2);
    if (b.reportBefore == Behaviour::ReportBefore::Any) {
        sendDueReports(m_now);  // a report due goes out before the answer
    }
    if (cmd.startsWith("+CNMI=")) {
        if (b.refuseCnmi) {
            return result("ERROR");
        }
        const QList<QByteArray> v = cmd.mid(6).split(',');
        m_routeReports = v.size() >= 4 && v[3].trimmed() == "1";
        return result("OK");
    }
    if (cmd == "+CNMA" || cmd.startsWith("+CNMA=")) {
        return result("OK");
    }
    if (cmd.isEmpty() || cmd == "Z" || cmd == "&F") {
        if (!cmd.isEmpty()) {
            m_echo = true;
        }
        return result("OK");
    }
    if (cmd == "E0" || cmd == "E1" || cmd == "E") {
        m_echo = cmd == "E1";
        return result("OK");
    }
    if (cmd.startsWith("+CMEE=")) {
        return result("OK");
    }
    if (cmd == "+CPIN?") {
        return result(needPin ? "+CPIN: SIM PIN\r\n\r\nOK" : "+CPIN: READY\r\n\r\nOK");
    }
    if (cmd.startsWith("+CPIN=")) {
        QByteArray pin = raw.mid(8).trimmed();  // after AT+CPIN=
        if (pin.startsWith('"') && pin.endsWith('"') && pin.size() >= 2) {
            pin = pin.mid(1, pin.size() - 2);
        }
        if (!b.simPin || m_unlocked) {
            return result("+CME ERROR: 3");  // operation not allowed
        }
        if (pin != *b.simPin) {
            violation(QStringLiteral("wrong SIM PIN"));
            return result("+CME ERROR: 16");  // incorrect password
        }
        m_unlocked = true;
        return result("OK");
    }
    if (cmd == "+CMGF=0" || cmd == "+CMGF=1") {
        m_pduMode = cmd == "+CMGF=0";
        return result("OK");
    }
    if (cmd.startsWith("+CMGS=")) {
        bool ok = false;
        const int length = cmd.mid(6).toInt(&ok);
        if (needPin) {
            return result("+CMS ERROR: 311");  // SIM PIN required
        }
        if (!m_pduMode) {
            violation(QStringLiteral("AT+CMGS in text mode"));
            return result("+CMS ERROR: 302");
        }
        if (!ok || length < 1 || length > 164) {
            violation(QStringLiteral("bad AT+CMGS length %1").arg(QString::fromLatin1(cmd.mid(6))));
            return result("+CMS ERROR: 304");
        }
        m_expectLength = length;
        if (b.reportBefore == Behaviour::ReportBefore::Prompt) {
            sendDueReports(m_now);
        }
        m_out += "\r\n> ";
        return;
    }
    result("ERROR");
}

void GsmModem::pdu(const QByteArray& hex) {
    const Behaviour b = m_scenario.forPort(m_com);
    const int announced = m_expectLength;
    m_expectLength = -1;
    QString error;
    const auto d = sms::decode(hex, &error);
    const int smscOctets = hex.size() >= 2 ? hex.left(2).toInt(nullptr, 16) + 1 : 0;
    if (d && hex.size() / 2 - smscOctets != announced) {
        error = QStringLiteral("AT+CMGS=%1 but the PDU has %2 octets")
                    .arg(announced)
                    .arg(hex.size() / 2 - smscOctets);
    }
    if (!d || !error.isEmpty()) {
        violation(QStringLiteral("bad PDU: %1").arg(error));
        return result("+CMS ERROR: 304");  // invalid PDU mode parameter
    }
    if (b.holdAfter >= 0 && m_messages >= b.holdAfter) {
        m_answering = false;
        return;
    }
    if (b.dropAfter >= 0 && m_messages >= b.dropAfter) {
        return result("+CMS ERROR: 331");  // no network service
    }
    const QByteArray digits = d->number.startsWith('+') ? d->number.mid(1) : d->number;
    if (b.rejects(digits) || b.rejects(d->number)) {
        return result("+CMS ERROR: 21");  // short message transfer rejected
    }
    ++m_messages;
    const int ref = m_nextRef;
    m_nextRef = m_nextRef % 255 + 1;
    if (b.reportBefore != Behaviour::ReportBefore::Prompt) {
        sendDueReports(m_now);
    }
    result("+CMGS: " + QByteArray::number(ref) + "\r\n\r\nOK");
    if (d->statusReport && m_routeReports && !b.noReports) {
        sms::StatusReport report;
        report.reference = ref;
        report.recipient = d->number;
        report.centreTime = QDateTime::currentDateTime();
        report.doneTime = report.centreTime.addMSecs(static_cast<qint64>(b.reportAfter * 1000));
        auto queue = [&](double at, int status) {
            report.status = status;
            int length = 0;
            const QByteArray pdu = sms::encodeStatusReport(report, "+4917000000", &length);
            if (m_due.size() < 1000) {
                m_due.append({at, "+CDS: " + QByteArray::number(length) + "\r\n" + pdu});
            }
        };
        if (b.reportTrying) {
            queue(m_now + b.reportAfter / 2, 0x21);  // SME busy, still trying
        }
        queue(m_now + b.reportAfter, b.reportFails(d->number) ? 0x41 : 0x00);
    }
    QString text = d->text;
    int parts = 1;
    if (d->reference >= 0 && d->total > 1) {
        const QString key = QString::fromLatin1(d->number) + u'/' + QString::number(d->reference);
        QStringList& have = m_partial[key];
        if (have.size() < d->total) {
            have.resize(d->total);
        }
        if (d->sequence < 1 || d->sequence > d->total) {
            violation(QStringLiteral("part %1 of %2").arg(d->sequence).arg(d->total));
            return;
        }
        have[d->sequence - 1] = d->text;
        for (const QString& part : have) {
            if (part.isNull()) {
                return;  // more parts to come
            }
        }
        text = have.join(QString());
        parts = d->total;
        m_partial.remove(key);
    }
    ++m_pages;
    m_sink(QStringLiteral("page"),
           QJsonObject{
               {QStringLiteral("time"), recordTime()},
               {QStringLiteral("port"), m_com},
               {QStringLiteral("endpoint"), QStringLiteral("gsm")},
               {QStringLiteral("kind"), QStringLiteral("sms")},
               {QStringLiteral("pin"), QString::fromLatin1(d->number)},
               {QStringLiteral("coding"),
                d->coding == sms::Coding::Gsm7 ? QStringLiteral("gsm7") : QStringLiteral("ucs2")},
               {QStringLiteral("parts"), parts},
               {QStringLiteral("status_report"), d->statusReport},
               {QStringLiteral("text"), text}});
}

void GsmModem::closed(double now) {
    if (m_opened >= 0) {
        m_sink(
            QStringLiteral("call"),
            QJsonObject{{QStringLiteral("time"), recordTime()},
                        {QStringLiteral("port"), m_com},
                        {QStringLiteral("endpoint"), QStringLiteral("gsm")},
                        {QStringLiteral("seconds"), now - m_opened},
                        {QStringLiteral("pages"), m_pages},
                        {QStringLiteral("end"), QStringLiteral("line closed by the dialer")},
                        {QStringLiteral("violations"), QJsonArray::fromStringList(m_violations)}});
    }
    m_opened = -1;
    m_echo = true;
    m_pduMode = false;
    m_answering = true;
    m_expectLength = -1;
    m_routeReports = false;
    m_due.clear();
    m_cmd.clear();
    m_pdu.clear();
    m_pages = 0;
    m_messages = 0;
    m_violations.clear();
}

}  // namespace vts::sim
