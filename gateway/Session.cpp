#include "Session.h"

#include "PageSubmitter.h"

namespace vts::gate {

std::optional<LineReader::Line> LineReader::next() {
    // Lines are taken from m_pos on; the used front is dropped only now and
    // then, so a large block of many lines costs linear time.
    if (m_pos > 65536 || (m_pos > 0 && m_pos * 2 > m_buffer.size())) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const auto lf = m_buffer.indexOf('\n', m_pos);
    if (m_discarding) {
        if (lf < 0) {
            m_buffer.clear();
            m_pos = 0;
            return std::nullopt;
        }
        m_pos = lf + 1;
        m_discarding = false;
        return Line{{}, true};
    }
    if (lf < 0) {
        if (m_buffer.size() - m_pos > m_max) {
            m_buffer.clear();
            m_pos = 0;
            m_discarding = true;
        }
        return std::nullopt;
    }
    if (lf - m_pos > m_max) {
        m_pos = lf + 1;
        return Line{{}, true};
    }
    Line l{m_buffer.mid(m_pos, lf - m_pos), false};
    m_pos = lf + 1;
    if (l.text.endsWith('\r')) {
        l.text.chop(1);
    }
    return l;
}

void Session::log(const QString& text) {
    m_desk.log().write(protocol(), m_peer, text);
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
        if (m_inData) {
            dataLine(*line);
        } else {
            command(*line);
        }
    }
}

}  // namespace vts::gate
