#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace vts::gate {

class PageSubmitter;

// Cuts received bytes into lines. Only CR LF ends a line (RFC 1861 and
// RFC 5321): a lone LF or CR stays in the line as text, so a newline hidden
// in a page text can never start a command of its own. A line longer than
// the limit is not kept: its bytes are thrown away up to its end and
// `tooLong` marks it, so one oversized line never grows memory.
class LineReader {
public:
    struct Line {
        QByteArray text;
        bool tooLong = false;
    };
    explicit LineReader(int maxLine) : m_max(maxLine) {}
    void append(const QByteArray& bytes) { m_buffer += bytes; }
    // Forgets every byte received and not yet taken as a line.
    void clear() {
        m_buffer.clear();
        m_pos = 0;
        m_scan = 0;
        m_discarding = false;
    }
    // The next complete line, or nothing until more bytes arrive.
    std::optional<Line> next();
    void setLimit(int maxLine) { m_max = maxLine; }

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_scan = 0;  // no CR LF starts before this
    int m_max;
    bool m_discarding = false;
};

// One client connection's protocol, independent of sockets and timers: the
// server feeds it the bytes received and sends what it writes. Tests drive
// it directly.
class Session {
public:
    struct Io {
        // Queues bytes for the client; false when the client has left too
        // much unread, and the connection is being dropped.
        std::function<bool(const QByteArray&)> send;
        std::function<void()> close;  // after what was sent has gone out
        // Turns the connection to TLS after what was sent (STARTTLS); false
        // when it cannot (no certificate, already encrypted).
        std::function<bool()> startTls = [] { return false; };
        // Whether the connection is (becoming) encrypted.
        std::function<bool()> encrypted = [] { return false; };
    };
    // Why a client is turned away before any exchange.
    enum class Refusal { NotAllowed, Busy };
    Session(PageSubmitter& desk, QString peer, Io io)
        : m_desk(desk), m_peer(std::move(peer)), m_io(std::move(io)) {}
    virtual ~Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    virtual QString protocol() const = 0;
    // The greeting, sent when the client connects.
    virtual void start() = 0;
    virtual void receive(const QByteArray& bytes) = 0;
    // The client sent nothing for too long (or stayed too long): a last
    // reply, then the connection is closed.
    virtual void timedOut() = 0;
    // Refuses a client before any exchange (address not allowed, too many
    // connections) with the protocol's own reply.
    virtual void refuse(Refusal kind, const QString& why) = 0;
    bool closed() const { return m_closed; }
    // Counts complete commands (or requests) received: the server's idle
    // time starts again only when this moves, so a client that drips bytes
    // without ever finishing a command is still cut off.
    quint64 progress() const { return m_progress; }

protected:
    void send(const QByteArray& bytes) {
        if (!m_closed && !m_io.send(bytes)) {
            m_closed = true;  // the server drops the connection
        }
    }
    // Sends one reply line. A refusal (a 4xx or 5xx reply) that no log line
    // has explained since the last reply gets one naming the reply itself,
    // so every refusal shows in the log.
    void reply(const QString& line) {
        if ((line.startsWith(QLatin1Char('4')) || line.startsWith(QLatin1Char('5'))) &&
            !m_explained) {
            log(QStringLiteral("refused: ") + line);
        }
        m_explained = false;
        send(line.toUtf8() + "\r\n");
    }
    // The next refusal is already explained by a log line written elsewhere.
    void explained() { m_explained = true; }
    void close() {
        if (!m_closed) {
            m_closed = true;
            m_io.close();
        }
    }
    // Writes a log line; a refusal names the command it answers.
    void log(const QString& text);
    // The command now being answered (its verb), for the log.
    void setCommand(const QString& verb) { m_command = verb; }
    void madeProgress() { ++m_progress; }
    bool startTls() { return !m_closed && m_io.startTls(); }
    bool encrypted() const { return m_io.encrypted(); }

    PageSubmitter& m_desk;
    QString m_peer;

private:
    Io m_io;
    QString m_command;
    quint64 m_progress = 0;
    bool m_closed = false;
    bool m_explained = false;
};

// A protocol of command lines with a data phase (SNPP, SMTP): each line
// received goes to `command`, or to `dataLine` while `m_inData` is set.
class LineSession : public Session {
public:
    using Session::Session;
    void receive(const QByteArray& bytes) final;

protected:
    // Takes the line limit from the settings; called before the greeting.
    void limitLines();
    // Sends a last reply line, then closes the connection.
    void replyAndClose(const QString& line) {
        reply(line);
        close();
    }
    // Drops what the client sent after the command now answered (STARTTLS:
    // nothing sent in the clear may count after the handshake).
    void discardPending() { m_reader.clear(); }
    virtual void command(const LineReader::Line& line) = 0;
    virtual void dataLine(const LineReader::Line& line) = 0;

    bool m_inData = false;

private:
    LineReader m_reader{4096};
};

}  // namespace vts::gate
