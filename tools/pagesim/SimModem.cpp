#include "SimModem.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

namespace vts::sim {

SimModem::SimModem(int comPort, const Scenario& scenario, TapTerminal::Timings timings,
                   double guard, Sink sink)
    : m_com(comPort),
      m_scenario(scenario),
      m_timings(timings),
      m_guard(guard),
      m_sink(std::move(sink)) {}

void SimModem::reset() {
    m_echo = true;
    m_verbose = true;
    m_quiet = false;
}

void SimModem::queueOut(const QByteArray& bytes, double now, bool paced) {
    const double perByte = paced && m_call.bps > 0 ? 10.0 / m_call.bps : 0.0;
    double t = std::max(now, m_txFree);
    for (char c : bytes) {
        t += perByte;
        m_out.emplace_back(t, c);
    }
    m_txFree = t;
}

void SimModem::result(int code, const char* text, double now) {
    if (m_quiet) {
        return;
    }
    if (m_verbose) {
        queueOut(QByteArray("\r\n") + text + "\r\n", now, false);
    } else {
        queueOut(QByteArray::number(code) + '\r', now, false);
    }
}

QByteArray SimModem::takeOutput(double now) {
    QByteArray o;
    while (!m_out.empty() && m_out.front().first <= now) {
        o.append(m_out.front().second);
        m_out.pop_front();
    }
    return o;
}

double SimModem::nextDeadline() const {
    double d = m_escapeAt;
    if (!m_out.empty()) {
        d = std::min(d, m_out.front().first);
    }
    if (!m_in.empty()) {
        d = std::min(d, m_in.front().first);
    }
    if (m_terminal) {
        d = std::min(d, m_terminal->nextDeadline());
    }
    if (m_terminal && m_terminal->finished()) {
        d = std::min(d, std::max(m_txFree, m_lastTerminalByte));
    }
    return d;
}

void SimModem::receive(const QByteArray& bytes, double now) {
    if (m_scenario.forPort(m_com).dead) {
        return;
    }
    for (char c : bytes) {
        switch (m_mode) {
            case Mode::Dialing:
                // Any character aborts a dial in progress.
                m_mode = Mode::Command;
                result(3, "NO CARRIER", now);
                continue;
            case Mode::Data: {
                // "+++" after a guard time of silence, followed by another.
                if (c == '+' && (m_plus > 0 || now - m_lastRx >= m_guard)) {
                    if (++m_plus == 3) {
                        m_escapeAt = now + m_guard;
                    } else if (m_plus > 3) {
                        m_plus = 0;
                        m_escapeAt = kNever;
                    }
                } else {
                    m_plus = 0;
                    m_escapeAt = kNever;
                }
                m_lastRx = now;
                ++m_bytesIn;
                if (m_call.bps > 0) {
                    m_rxFree = std::max(now, m_rxFree) + 10.0 / m_call.bps;
                    m_in.emplace_back(m_rxFree, c);
                } else {
                    feedTerminal(c, now);
                }
                continue;
            }
            case Mode::Command:
                if (m_echo) {
                    queueOut(QByteArray(1, c), now, false);
                }
                if (c == '\r') {
                    const QByteArray line = m_cmd;
                    m_cmd.clear();
                    commandLine(line, now);
                } else if (c != '\n' && m_cmd.size() < 256) {
                    m_cmd.append(c);
                }
                continue;
        }
    }
    pumpTerminal(now);
}

void SimModem::feedTerminal(char c, double now) {
    if (m_terminal) {
        m_terminal->receive(c, now);
    }
}

void SimModem::pumpTerminal(double now) {
    if (!m_terminal) {
        return;
    }
    const QByteArray out = m_terminal->takeOutput();
    if (!out.isEmpty()) {
        m_bytesOut += out.size();
        queueOut(out, now, true);
        m_lastTerminalByte = m_txFree;
    }
    for (const AcceptedPage& p : m_terminal->takePages()) {
        QJsonObject rec{
            {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
            {QStringLiteral("port"), m_com},
            {QStringLiteral("kind"), QStringLiteral("alpha")},
            {QStringLiteral("number"), QString::fromLatin1(m_number)},
            {QStringLiteral("pin"), QString::fromLatin1(p.pin)},
            {QStringLiteral("text"), QString::fromLatin1(p.text)}};
        m_sink(QStringLiteral("page"), rec);
    }
    if (m_terminal->finished()) {
        // Carrier drops at once, or once the terminal's last words are out.
        if (m_terminal->dropNow() || m_out.empty() || m_out.back().first <= now) {
            endCall(m_terminal->endReason(), now, true);
        }
    }
}

void SimModem::tick(double now) {
    while (!m_in.empty() && m_in.front().first <= now) {
        const auto [t, c] = m_in.front();
        m_in.pop_front();
        feedTerminal(c, t);
    }
    if (m_terminal) {
        m_terminal->tick(now);
    }
    if (m_escapeAt <= now) {
        m_escapeAt = kNever;
        m_plus = 0;
        m_in.clear();
        m_mode = Mode::Command;
        result(0, "OK", now);
    }
    pumpTerminal(now);
}

void SimModem::lineClosed(double now) {
    m_cmd.clear();
    if (m_mode == Mode::Dialing) {
        m_mode = Mode::Command;
    }
    endCall(QStringLiteral("line closed by the dialer"), now, false);
    m_out.clear();
}

void SimModem::endCall(const QString& how, double now, bool sayNoCarrier) {
    if (!m_terminal) {
        return;
    }
    const double end = std::max(now, m_lastTerminalByte);
    QJsonObject rec{
        {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), m_com},
        {QStringLiteral("number"), QString::fromLatin1(m_number)},
        {QStringLiteral("seconds"), end - m_callStart},
        {QStringLiteral("bytes_in"), m_bytesIn},
        {QStringLiteral("bytes_out"), m_bytesOut},
        {QStringLiteral("bps"), m_call.bps},
        {QStringLiteral("logons"), m_terminal->logons()},
        {QStringLiteral("pages"), m_terminal->pagesAccepted()},
        {QStringLiteral("end"), how},
        {QStringLiteral("violations"), QJsonArray::fromStringList(m_terminal->violations())}};
    m_terminal.reset();
    m_in.clear();
    m_escapeAt = kNever;
    m_plus = 0;
    const bool wasData = m_mode == Mode::Data;
    m_mode = Mode::Command;
    if (sayNoCarrier && wasData) {
        result(3, "NO CARRIER", now);
    }
    m_sink(QStringLiteral("call"), rec);
}

void SimModem::commandLine(const QByteArray& raw, double now) {
    const QByteArray line = raw.trimmed().toUpper();
    const qsizetype at = line.indexOf("AT");
    if (at < 0) {
        return;  // not a command: a real modem ignores it
    }
    const QByteArray s = line.mid(at + 2);
    qsizetype p = 0;
    auto number = [&]() {
        int v = 0;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
            v = v * 10 + (s[p++] - '0');
        }
        return v;
    };
    while (p < s.size()) {
        const char c = s[p++];
        switch (c) {
            case ' ':
                break;
            case 'Z':
                reset();
                result(0, "OK", now);
                return;  // the rest of a line after Z is ignored
            case '&': {
                const char what = p < s.size() ? s[p++] : '\0';
                number();
                if (what == 'F') {
                    reset();
                } else if (!what) {
                    return result(4, "ERROR", now);
                }
                break;
            }
            case 'E':
                m_echo = number() != 0;
                break;
            case 'V':
                m_verbose = number() != 0;
                break;
            case 'Q':
                m_quiet = number() != 0;
                break;
            case 'X':
            case 'M':
            case 'L':
            case 'I':
                number();
                break;
            case 'S':
                number();
                if (p < s.size() && s[p] == '=') {
                    ++p;
                    number();
                } else if (p < s.size() && s[p] == '?') {
                    ++p;
                }
                break;
            case 'H':
                number();
                if (m_terminal) {
                    endCall(QStringLiteral("hung up by the dialer"), now, false);
                }
                break;
            case 'O':
                number();
                if (!m_terminal) {
                    return result(3, "NO CARRIER", now);
                }
                m_mode = Mode::Data;
                return result(1, "CONNECT", now);
            case 'D':
                return dial(s.mid(p), now);
            default:
                return result(4, "ERROR", now);
        }
    }
    result(0, "OK", now);
}

void SimModem::dial(const QByteArray& rawRest, double now) {
    QByteArray rest = rawRest;
    if (!rest.isEmpty() && (rest[0] == 'T' || rest[0] == 'P')) {
        rest.remove(0, 1);
    }
    const bool commandAfter = rest.endsWith(';');
    if (commandAfter) {
        rest.chop(1);
    }
    const qsizetype comma = rest.indexOf(',');
    QByteArray number = comma < 0 ? rest : rest.left(comma);
    int pauses = 0;
    QByteArray digits;
    if (comma >= 0) {
        qsizetype p = comma;
        while (p < rest.size() && rest[p] == ',') {
            ++pauses;
            ++p;
        }
        digits = rest.mid(p);
    }
    number = number.trimmed();
    if (number.isEmpty()) {
        return result(4, "ERROR", now);
    }
    m_call = m_scenario.forCall(number, m_com);
    m_number = number;
    using D = Behaviour::Dial;
    switch (m_call.dial) {
        case D::Busy:
            return result(7, "BUSY", now);
        case D::NoAnswer:
            return result(8, "NO ANSWER", now);
        case D::NoCarrier:
            return result(3, "NO CARRIER", now);
        case D::NoDialtone:
            return result(6, "NO DIALTONE", now);
        case D::Error:
            return result(4, "ERROR", now);
        case D::Silent:
            m_mode = Mode::Dialing;
            return;
        case D::Connect:
            break;
    }
    if (commandAfter) {
        // A numeric page: the tones follow the pauses; no carrier is expected.
        if (digits.endsWith('#')) {
            digits.chop(1);
        }
        QJsonObject rec{
            {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
            {QStringLiteral("port"), m_com},
            {QStringLiteral("kind"), QStringLiteral("numeric")},
            {QStringLiteral("number"), QString::fromLatin1(number)},
            {QStringLiteral("pin"), QString()},
            {QStringLiteral("text"), QString::fromLatin1(digits)},
            {QStringLiteral("pause_seconds"), pauses * 2},
            {QStringLiteral("terminated"), rawRest.chopped(1).endsWith('#')}};
        m_sink(QStringLiteral("page"), rec);
        return result(0, "OK", now);
    }
    m_terminal = std::make_unique<TapTerminal>(m_call, m_timings, now);
    m_mode = Mode::Data;
    m_callStart = now;
    m_lastTerminalByte = now;
    m_bytesIn = m_bytesOut = 0;
    m_txFree = m_rxFree = now;
    m_lastRx = now;
    const int speed = m_call.bps > 0 ? m_call.bps : 1200;
    if (m_verbose) {
        result(1, QByteArray("CONNECT " + QByteArray::number(speed)).constData(), now);
    } else {
        result(speed == 2400 ? 10 : 5, "", now);
    }
}

}  // namespace vts::sim
