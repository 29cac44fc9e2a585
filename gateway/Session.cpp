#include "Session.h"

#include "PageSubmitter.h"

namespace vts::gate {

std::optional<LineReader::Line> LineReader::next() {
    // Lines are taken from m_pos on; the used front is dropped only now and
    // then, so a large block of many lines costs linear time.
    if (m_pos > 65536 || (m_pos > 0 && m_pos * 2 > m_buffer.size())) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        m_scan = 0;
    }
    // Only CR LF ends a line: a lone LF or CR is part of the line's text.
    // Searching on from where the last search stopped keeps a line that
    // arrives a byte at a time linear.
    auto end = m_buffer.indexOf("\r\n", std::max(m_pos, m_scan));
    if (m_discarding) {
        if (end < 0) {
            // Keep a trailing CR: its LF may be the next byte to arrive.
            const bool cr = m_buffer.endsWith('\r');
            m_buffer = cr ? QByteArray("\r") : QByteArray();
            m_pos = 0;
            m_scan = 0;
            return std::nullopt;
        }
        m_pos = end + 2;
        m_scan = m_pos;
        m_discarding = false;
        return Line{{}, true};
    }
    if (end < 0) {
        m_scan = std::max(m_pos, m_buffer.size() - 1);
        if (m_buffer.size() - m_pos > m_max + 1) {
            const bool cr = m_buffer.endsWith('\r');
            m_buffer = cr ? QByteArray("\r") : QByteArray();
            m_pos = 0;
            m_scan = 0;
            m_discarding = true;
        }
        return std::nullopt;
    }
    if (end - m_pos > m_max) {
        m_pos = end + 2;
        m_scan = m_pos;
        return Line{{}, true};
    }
    Line l{m_buffer.mid(m_pos, end - m_pos), false};
    m_pos = end + 2;
    m_scan = m_pos;
    return l;
}

void Session::log(const QString& text) {
    QString line = text;
    if (!m_command.isEmpty() && text.startsWith(QLatin1String("refused"))) {
        line += QStringLiteral(" (command %1)").arg(m_command);
    }
    m_desk.log().write(protocol(), m_peer, line);
    m_explained = true;
}

void LineSession::limitLines() { m_reader.setLimit(m_desk.settings().limits.maxLine); }

void LineSession::receive(const QByteArray& bytes) {
    m_reader.append(bytes);
    while (!closed()) {
        const auto line = m_reader.next();
        if (!line) {
            break;
        }
        madeProgress();
        if (m_inData) {
            dataLine(*line);
        } else {
            command(*line);
        }
    }
}

}  // namespace vts::gate
