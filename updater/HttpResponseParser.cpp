#include "HttpResponseParser.h"

namespace vts {
namespace {

bool allDigits(const QByteArray& s) {
    if (s.isEmpty() || s.size() > 18) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

HttpResponseParser::HttpResponseParser(Limits limits) : m_limits(limits) {}

void HttpResponseParser::fail(const QString& why) {
    if (m_state == State::Failed) return;
    m_state = State::Failed;
    m_error = why;
    m_buffer.clear();
}

// Takes one line (ended by LF, an optional CR before it dropped) off the
// buffer. False when no whole line is there yet; fails on an overlong line.
bool HttpResponseParser::takeLine(QByteArray& line) {
    const qsizetype lf = m_buffer.indexOf('\n');
    if (lf < 0) {
        if (m_buffer.size() > m_limits.maxLineBytes) fail(QStringLiteral("response line too long"));
        return false;
    }
    if (lf > m_limits.maxLineBytes) {
        fail(QStringLiteral("response line too long"));
        return false;
    }
    line = m_buffer.left(lf);
    m_buffer.remove(0, lf + 1);
    if (line.endsWith('\r')) line.chop(1);
    if (m_state == State::Headers || m_state == State::StatusLine || m_state == State::Trailers) {
        m_headerBytes += static_cast<int>(lf + 1);
        if (m_headerBytes > m_limits.maxHeaderBytes) {
            fail(QStringLiteral("response header too large"));
            return false;
        }
    }
    return true;
}

void HttpResponseParser::handleStatusLine(const QByteArray& line) {
    // "HTTP/1.1 200 OK"
    if (!line.startsWith("HTTP/")) {
        fail(QStringLiteral("not an HTTP response"));
        return;
    }
    const qsizetype sp = line.indexOf(' ');
    const QByteArray rest = sp < 0 ? QByteArray() : line.mid(sp + 1);
    const QByteArray code = rest.left(3);
    if (code.size() != 3 || !allDigits(code) || (rest.size() > 3 && rest[3] != ' ')) {
        fail(QStringLiteral("malformed status line"));
        return;
    }
    m_status = code.toInt();
    m_interim = m_status >= 100 && m_status < 200;
    if (m_status == 101) {
        fail(QStringLiteral("unexpected protocol switch"));
        return;
    }
    m_state = State::Headers;
    if (!m_interim && onStatus && !onStatus(m_status, rest.mid(4))) {
        fail(QStringLiteral("server answered %1 %2")
                 .arg(m_status)
                 .arg(QString::fromLatin1(rest.mid(4))));
    }
}

void HttpResponseParser::handleHeaderLine(const QByteArray& line) {
    if (line.isEmpty()) {
        if (m_interim) {
            m_state = State::StatusLine;
            return;
        }
        beginBody();
        return;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        fail(QStringLiteral("folded header line"));
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        fail(QStringLiteral("malformed header line"));
        return;
    }
    const QByteArray name = line.left(colon).trimmed();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (m_interim) return;
    const QByteArray lower = name.toLower();
    if (lower == "content-length") {
        if (!allDigits(value)) {
            fail(QStringLiteral("malformed Content-Length"));
            return;
        }
        const qint64 n = value.toLongLong();
        if (m_contentLength && *m_contentLength != n) {
            fail(QStringLiteral("conflicting Content-Length headers"));
            return;
        }
        m_contentLength = n;
    } else if (lower == "transfer-encoding") {
        const QByteArray last = value.split(',').last().trimmed().toLower();
        if (last == "chunked")
            m_chunked = true;
        else if (last != "identity") {
            fail(QStringLiteral("unsupported transfer encoding"));
            return;
        }
    }
    if (onHeader) onHeader(name, value);
}

void HttpResponseParser::beginBody() {
    if (m_chunked) {
        m_framing = Framing::Chunked;
        m_contentLength.reset();
    } else if (m_contentLength) {
        m_framing = Framing::Length;
    } else {
        m_framing = Framing::UntilClose;
    }
    if (m_contentLength && *m_contentLength > m_limits.maxBodyBytes) {
        fail(QStringLiteral("response body too large"));
        return;
    }
    if (onBodyStart) onBodyStart();
    if (m_state == State::Failed) return;
    const bool noBody = m_status == 204 || m_status == 304;
    if (noBody || (m_framing == Framing::Length && *m_contentLength == 0))
        m_state = State::Done;
    else
        m_state = m_framing == Framing::Chunked ? State::ChunkSize : State::Body;
}

void HttpResponseParser::deliver(const QByteArray& piece) {
    if (piece.isEmpty()) return;
    m_bodyBytes += piece.size();
    if (m_bodyBytes > m_limits.maxBodyBytes) {
        fail(QStringLiteral("response body too large"));
        return;
    }
    if (onBody) onBody(piece);
}

void HttpResponseParser::feed(const QByteArray& bytes) {
    if (m_state == State::Done || m_state == State::Failed) return;
    m_buffer += bytes;
    QByteArray line;
    for (;;) {
        switch (m_state) {
            case State::StatusLine:
                if (!takeLine(line)) return;
                handleStatusLine(line);
                break;
            case State::Headers:
                if (!takeLine(line)) return;
                handleHeaderLine(line);
                break;
            case State::Body: {
                if (m_buffer.isEmpty()) return;
                QByteArray piece;
                if (m_framing == Framing::Length) {
                    const qint64 left = *m_contentLength - m_bodyBytes;
                    piece = m_buffer.left(left);
                    m_buffer.remove(0, piece.size());
                } else {
                    piece.swap(m_buffer);
                }
                deliver(piece);
                if (m_state == State::Body && m_framing == Framing::Length &&
                    m_bodyBytes == *m_contentLength) {
                    m_state = State::Done;
                    m_buffer.clear();  // bytes past the declared length are not ours
                }
                break;
            }
            case State::ChunkSize: {
                if (!takeLine(line)) return;
                QByteArray hex = line;
                const qsizetype semi = hex.indexOf(';');
                if (semi >= 0) hex.truncate(semi);
                hex = hex.trimmed();
                bool ok = false;
                const qint64 size = hex.size() <= 15 ? hex.toLongLong(&ok, 16) : -1;
                if (!ok || size < 0 || hex.startsWith('+') || hex.startsWith('-')) {
                    fail(QStringLiteral("malformed chunk size"));
                    return;
                }
                if (size == 0) {
                    m_headerBytes = 0;
                    m_state = State::Trailers;
                } else {
                    m_chunkLeft = size;
                    m_state = State::ChunkData;
                }
                break;
            }
            case State::ChunkData: {
                if (m_buffer.isEmpty()) return;
                QByteArray piece = m_buffer.left(m_chunkLeft);
                m_buffer.remove(0, piece.size());
                m_chunkLeft -= piece.size();
                deliver(piece);
                if (m_state == State::ChunkData && m_chunkLeft == 0) m_state = State::ChunkDataEnd;
                break;
            }
            case State::ChunkDataEnd:
                if (!takeLine(line)) return;
                if (!line.isEmpty()) {
                    fail(QStringLiteral("malformed chunk end"));
                    return;
                }
                m_state = State::ChunkSize;
                break;
            case State::Trailers:
                if (!takeLine(line)) return;
                if (line.isEmpty()) {
                    m_state = State::Done;
                    m_buffer.clear();
                }
                break;
            case State::Done:
            case State::Failed:
                return;
        }
    }
}

void HttpResponseParser::finishInput() {
    if (m_state == State::Done || m_state == State::Failed) return;
    if (m_state == State::Body && m_framing == Framing::UntilClose) {
        m_state = State::Done;
        return;
    }
    if (m_state == State::StatusLine && m_status == 0)
        fail(QStringLiteral("connection closed without a response"));
    else if (m_state == State::Body && m_framing == Framing::Length)
        fail(QStringLiteral("connection closed after %1 of %2 bytes")
                 .arg(m_bodyBytes)
                 .arg(*m_contentLength));
    else
        fail(QStringLiteral("connection closed before the response was complete"));
}

}  // namespace vts
