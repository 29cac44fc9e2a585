#pragma once

#include "Line.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Drives a Hayes-compatible modem over a Channel: sends a command line,
// waits for its final result code (verbal or numeric), skipping echoes and
// intermediate reports, and hangs up by DTR or, where the line has no DTR,
// by the escape sequence and ATH0.
namespace vts {

class HayesModem {
public:
    enum class Result {
        Ok,
        Connect,
        Ring,
        NoCarrier,
        Error,
        NoDialtone,
        Busy,
        NoAnswer,
        Timeout,
        Cancelled,
        LineError
    };

    explicit HayesModem(Channel& channel) : m_channel(channel) {}

    // Sends `command` + CR and waits at most `timeoutSeconds` for the final result.
    Result command(const QByteArray& command, double timeoutSeconds);
    // The last CONNECT line ("CONNECT 1200/REL").
    QByteArray connectLine() const { return m_connect; }

    // Hangs up: DTR first; else (after `guardSeconds` of silence) "+++",
    // the modem's OK, and ATH0. `carrierGone` skips the escape when the
    // modem already reported NO CARRIER. Replies are waited for at most
    // `replySeconds` each. True when the modem confirmed.
    bool hangUp(bool carrierGone, double guardSeconds, double replySeconds);

    // Classifies one reply line; nullopt for lines that are not final
    // results (CARRIER, PROTOCOL, COMPRESSION, anything unknown).
    static std::optional<Result> classify(const QByteArray& line);
    static QString name(Result r);

private:
    Result awaitResult(const QByteArray& echo, Deadline deadline);
    Channel& m_channel;
    QByteArray m_connect;
};

}  // namespace vts
