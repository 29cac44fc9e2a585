#include "TapTerminal.h"

#include <Tap.h>

#include <algorithm>

namespace vts::sim {

using namespace vts::tap;

namespace {
const QByteArray kNoise = QByteArray("\xa3\xbf~ line noise ~\xfe") + CR;
const QByteArray kAck = seq({CR, ACK, CR});
// The CR ends the message sequence before it, as it does before an ACK.
const QByteArray kDisconnect = seq({CR, ESC, EOT, CR});

bool isPagerId(const QByteArray& pin) {
    if (pin.isEmpty() || pin.size() > 20) {
        return false;
    }
    for (char c : pin) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}
}  // namespace

TapTerminal::TapTerminal(Behaviour behaviour, Timings timings, double now)
    : m_b(std::move(behaviour)), m_t(timings), m_deadline(now + m_t.probeWait) {}

void TapTerminal::reply(const QByteArray& bytes) {
    if (m_b.garbled) {
        m_out += kNoise;
    }
    m_out += bytes;
}

void TapTerminal::end(const QByteArray& bytes, const QString& reason) {
    if (!bytes.isEmpty()) {
        reply(bytes);
    }
    m_state = State::Done;
    m_deadline = kNever;
    m_endReason = reason;
}

QByteArray TapTerminal::takeOutput() {
    QByteArray o;
    o.swap(m_out);
    return o;
}

QList<AcceptedPage> TapTerminal::takePages() {
    QList<AcceptedPage> p;
    p.swap(m_accepted);
    return p;
}

void TapTerminal::resetTransaction() {
    m_fields.clear();
    m_field.clear();
    m_checksumErrors = 0;
}

void TapTerminal::rejectTransaction(const QByteArray& message) {
    resetTransaction();
    reply(message + CR + RS + CR);
}

void TapTerminal::violation(const QString& what) {
    if (m_violations.size() < 50) {
        m_violations.append(what);
    }
}

void TapTerminal::tick(double now) {
    if (now < m_deadline) {
        return;
    }
    switch (m_state) {
        case State::AwaitProbe:
            end({}, QStringLiteral("no probe"));
            break;
        case State::AwaitLogon:
            if (m_idSent >= m_t.n3) {
                end(QByteArray("501 Time out") + kDisconnect, QStringLiteral("no log-on"));
            } else {
                ++m_idSent;
                m_out += "ID=";
                m_deadline = now + m_t.t5;
            }
            break;
        case State::Transactions:
            end(QByteArray("501 Time out") + kDisconnect, QStringLiteral("client silent"));
            break;
        default:
            m_deadline = kNever;
            break;
    }
}

void TapTerminal::receive(char raw, double now) {
    // The line is 7-bit: a byte with the high bit set is never valid
    // protocol; framing still reads its low seven bits.
    const char c = static_cast<char>(raw & 0x7F);
    const bool highBit = (static_cast<unsigned char>(raw) & 0x80) != 0;
    switch (m_state) {
        case State::AwaitProbe:
            if (c != CR || highBit) {
                if (m_line.size() < 64) {
                    m_line.append(raw);
                }
                return;
            }
            if (!m_line.isEmpty()) {
                // Only a bare CR is a probe.
                violation(QStringLiteral("junk before the first probe: %1").arg(describe(m_line)));
                m_line.clear();
                return;
            }
            m_out += m_b.doubleId ? QByteArray("ID=") + CR + "ID=" : QByteArray("ID=");
            m_idSent = 1;
            m_state = State::AwaitLogon;
            m_deadline = now + m_t.t5;
            return;
        case State::AwaitLogon:
            if (c != CR || highBit) {
                if (m_line.size() < 64) {
                    m_line.append(raw);
                }
                return;
            }
            if (m_line.isEmpty()) {
                return;  // a late extra probe
            }
            handleLogon(m_line, now);
            m_line.clear();
            return;
        case State::Transactions:
            if (m_inBlock) {
                m_block.append(c);
                m_blockHighBit = m_blockHighBit || highBit;
                qsizetype t = 1;
                while (t < m_block.size() && m_block[t] != ETX && m_block[t] != ETB &&
                       m_block[t] != US) {
                    ++t;
                }
                if (t < m_block.size() && m_block.size() == t + 5) {
                    m_inBlock = false;
                    handleBlock(now);
                } else if (m_block.size() > kMaxBlockChars + 6 + 64) {
                    m_inBlock = false;
                    rejectTransaction("515 Block too long");
                    m_deadline = now + m_t.t4;
                }
                return;
            }
            if (m_sawEot) {
                m_sawEot = false;
                if (c == CR && !highBit) {
                    end(QByteArray("115 Thank you for calling") +
                            (m_b.withdraw ? QByteArray(1, CR) + RS : QByteArray()) + kDisconnect,
                        QStringLiteral("logged off"));
                    return;
                }
                junk(seq({EOT}) + raw);
                return;
            }
            if (c == STX && !highBit) {
                m_inBlock = true;
                m_blockHighBit = false;
                m_block = QByteArray(1, STX);
                m_deadline = now + m_t.t4;
            } else if (c == EOT && !highBit) {
                m_sawEot = true;
            } else {
                junk(QByteArray(1, raw));
            }
            return;
        case State::Hold:
        case State::Done:
            return;
    }
}

void TapTerminal::junk(const QByteArray& bytes) {
    // Between transactions only STX or EOT CR may come (reply code 502).
    violation(
        QStringLiteral("unexpected characters between transactions: %1").arg(describe(bytes)));
    end(QByteArray("502 Unexpected characters") + kDisconnect,
        QStringLiteral("unexpected characters"));
}

void TapTerminal::handleLogon(const QByteArray& line, double now) {
    const bool sevenBit =
        std::all_of(line.begin(), line.end(), [](char b) { return (b & 0x80) == 0; });
    const bool otherType = line.size() >= 4 && line.startsWith(QByteArray(1, ESC) + "PG") &&
                           line[3] >= '0' && line[3] <= '9' && line[3] != '1';
    if (!sevenBit || !line.startsWith(QByteArray(1, ESC) + "PG1")) {
        // Another device type (PG3 three-field, PG7 to PG9 reserved) is a
        // well-formed log-on for a service this terminal does not offer.
        const QByteArray message =
            otherType && sevenBit ? "508 Service not supported" : "507 Invalid log-on";
        violation(QStringLiteral("log-on refused: %1").arg(describe(line)));
        if (++m_badLogons >= m_t.n3) {
            end(message + kDisconnect, QStringLiteral("bad log-on"));
            return;
        }
        reply(message + CR + NAK + CR);
        m_deadline = now + m_t.t5;
        return;
    }
    const QByteArray password = line.mid(4);
    if (m_b.rejectLogon) {
        end(QByteArray("508 Service not available") + kDisconnect,
            QStringLiteral("log-on rejected"));
        return;
    }
    if (m_b.password && password != *m_b.password) {
        end(QByteArray("509 Invalid password") + kDisconnect, QStringLiteral("bad password"));
        return;
    }
    if (!m_b.password && !password.isEmpty()) {
        for (char p : password) {
            if (!((p >= '0' && p <= '9') || (p >= 'A' && p <= 'Z') || (p >= 'a' && p <= 'z'))) {
                end(QByteArray("507 Invalid log-on") + kDisconnect, QStringLiteral("bad log-on"));
                return;
            }
        }
    }
    ++m_logons;
    reply(QByteArray("110 1.8") + CR + "114 Pagesim paging terminal" + CR + ACK + CR + ESC + "[p" +
          CR);
    m_state = State::Transactions;
    m_deadline = now + m_t.t4;
}

void TapTerminal::handleBlock(double now) {
    m_deadline = now + m_t.t4;
    if (m_b.dropAfter >= 0 && m_pages >= m_b.dropAfter) {
        m_dropNow = true;
        end({}, QStringLiteral("dropped after %1 page(s)").arg(m_pages));
        return;
    }
    if (m_b.holdAfter >= 0 && m_pages >= m_b.holdAfter) {
        m_state = State::Hold;
        m_deadline = kNever;
        return;
    }
    if (m_b.nakFirst && !m_nakDone) {
        m_nakDone = true;
        reply(QByteArray("514 Checksum error") + CR + NAK + CR);
        return;
    }
    if (m_blockHighBit) {
        violation(QStringLiteral("8-bit byte in a block"));
        rejectTransaction("515 Format error");
        return;
    }
    const ParsedBlock p = parseBlock(m_block, m_b.maxBlock);
    switch (p.error) {
        case ParsedBlock::Error::None:
            break;
        case ParsedBlock::Error::BadChecksum:
            if (++m_checksumErrors > 3) {
                rejectTransaction("503 Too many checksum errors");
            } else {
                reply(QByteArray("514 Checksum error") + CR + NAK + CR);
            }
            return;
        case ParsedBlock::Error::TooLong:
            rejectTransaction("515 Block too long");
            return;
        default:
            rejectTransaction("515 Format error");
            return;
    }
    for (char b : p.content) {
        if (static_cast<unsigned char>(b) < 0x20 && b != CR && b != SUB) {
            // Control characters other than the field CR travel escaped.
            violation(QStringLiteral("raw control character %1 in a field")
                          .arg(describe(QByteArray(1, b))));
            rejectTransaction("515 Format error");
            return;
        }
    }
    const auto content = unescape(p.content);
    if (!content) {
        rejectTransaction("515 Format error");
        return;
    }
    m_checksumErrors = 0;
    for (char c : *content) {
        if (c == CR) {
            m_fields.append(m_field);
            m_field.clear();
        } else {
            m_field.append(c);
        }
    }
    if (m_fields.size() > 2 || (p.terminator != US && !m_field.isEmpty())) {
        rejectTransaction("515 Format error");
        return;
    }
    if (p.terminator != ETX) {
        reply(QByteArray("111 Block received, send the next") + kAck);
        return;
    }
    if (m_fields.size() != 2) {
        rejectTransaction("515 Format error");
        return;
    }
    const AcceptedPage page{m_fields[0], m_fields[1]};
    resetTransaction();
    if (!isPagerId(page.pin)) {
        reply(QByteArray("510 Invalid pager ID") + CR + RS + CR);
        return;
    }
    if (m_b.rejects(page.pin)) {
        reply(QByteArray("511 No such subscriber") + CR + RS + CR);
        return;
    }
    ++m_pages;
    m_accepted.append(page);
    reply(QByteArray("211 Page accepted") + CR + ACK + CR);
}

}  // namespace vts::sim
