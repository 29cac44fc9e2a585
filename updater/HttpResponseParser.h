#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vts {

// Bounds on what one response may hold.
struct HttpLimits {
    int maxLineBytes = 8 * 1024;
    int maxHeaderBytes = 64 * 1024;
    qint64 maxBodyBytes = 512LL * 1024 * 1024;
};

// Incremental reader of one HTTP/1.x response, fed with bytes as they arrive
// from the socket in pieces of any size. It reports the status, each header,
// the start of the body and each body piece through callbacks. The body ends
// by Content-Length, by chunked encoding, or (when neither is given) when the
// connection closes. Every line and the body are bounded; input that breaks
// a bound or the grammar puts the parser into the failed state, after which
// it ignores further input. Interim 1xx responses are skipped.
class HttpResponseParser {
public:
    using Limits = HttpLimits;

    explicit HttpResponseParser(Limits limits = Limits());

    // Called once the status line is read; return false to stop (the parser
    // then counts as failed with the given reason).
    std::function<bool(int status, const QByteArray& reason)> onStatus;
    std::function<void(const QByteArray& name, const QByteArray& value)> onHeader;
    std::function<void()> onBodyStart;
    std::function<void(const QByteArray& piece)> onBody;

    void feed(const QByteArray& bytes);
    // The connection has closed: a body read until close is complete now;
    // anything else still open is a broken response.
    void finishInput();

    bool isDone() const { return m_state == State::Done; }
    bool isFailed() const { return m_state == State::Failed; }
    QString error() const { return m_error; }
    int status() const { return m_status; }
    // The declared body length when the response framed its body by one.
    std::optional<qint64> contentLength() const { return m_contentLength; }
    qint64 bodyBytes() const { return m_bodyBytes; }

private:
    enum class State {
        StatusLine,
        Headers,
        Body,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        Trailers,
        Done,
        Failed
    };
    enum class Framing { Length, Chunked, UntilClose };

    bool takeLine(QByteArray& line);
    void fail(const QString& why);
    void handleStatusLine(const QByteArray& line);
    void handleHeaderLine(const QByteArray& line);
    void beginBody();
    void deliver(const QByteArray& piece);

    Limits m_limits;
    State m_state = State::StatusLine;
    Framing m_framing = Framing::UntilClose;
    QByteArray m_buffer;
    QString m_error;
    int m_status = 0;
    int m_headerBytes = 0;
    bool m_interim = false;
    bool m_chunked = false;
    std::optional<qint64> m_contentLength;
    qint64 m_bodyBytes = 0;
    qint64 m_chunkLeft = 0;
};

}  // namespace vts
