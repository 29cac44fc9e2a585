#include "HayesModem.h"

#include "TraceLog.h"

namespace vts {

std::optional<HayesModem::Result> HayesModem::classify(const QByteArray& raw) {
    const QByteArray line = raw.trimmed().toUpper();
    if (line == "OK" || line == "0") {
        return Result::Ok;
    }
    if (line.startsWith("CONNECT") || line == "1" || line == "5" ||
        (line.size() == 2 && line[0] == '1' && line[1] >= '0' && line[1] <= '4')) {
        return Result::Connect;
    }
    if (line == "RING" || line == "2") {
        return Result::Ring;
    }
    if (line == "NO CARRIER" || line == "3") {
        return Result::NoCarrier;
    }
    if (line == "ERROR" || line == "4") {
        return Result::Error;
    }
    if (line == "NO DIALTONE" || line == "NO DIAL TONE" || line == "6") {
        return Result::NoDialtone;
    }
    if (line == "BUSY" || line == "7") {
        return Result::Busy;
    }
    if (line == "NO ANSWER" || line == "8") {
        return Result::NoAnswer;
    }
    return std::nullopt;
}

QString HayesModem::name(Result r) {
    switch (r) {
        case Result::Ok:
            return QStringLiteral("OK");
        case Result::Connect:
            return QStringLiteral("CONNECT");
        case Result::Ring:
            return QStringLiteral("RING");
        case Result::NoCarrier:
            return QStringLiteral("NO CARRIER");
        case Result::Error:
            return QStringLiteral("ERROR");
        case Result::NoDialtone:
            return QStringLiteral("NO DIALTONE");
        case Result::Busy:
            return QStringLiteral("BUSY");
        case Result::NoAnswer:
            return QStringLiteral("NO ANSWER");
        case Result::Timeout:
            return QStringLiteral("no reply");
        case Result::Cancelled:
            return QStringLiteral("stopped");
        case Result::LineError:
            return QStringLiteral("line error");
    }
    return {};
}

HayesModem::Result HayesModem::awaitResult(const QByteArray& echo, Deadline deadline) {
    QByteArray& buf = m_channel.buffer();
    for (;;) {
        // Consume complete lines; a partial line stays for the next read.
        for (;;) {
            qsizetype end = -1;
            for (qsizetype i = 0; i < buf.size(); ++i) {
                if (buf[i] == '\r' || buf[i] == '\n') {
                    end = i;
                    break;
                }
            }
            if (end < 0) {
                break;
            }
            const QByteArray line = buf.left(end).trimmed();
            buf.remove(0, end + 1);
            if (line.isEmpty() ||
                (!echo.isEmpty() && line.compare(echo, Qt::CaseInsensitive) == 0)) {
                continue;
            }
            const auto r = classify(line);
            if (!r || *r == Result::Ring) {
                continue;
            }
            if (*r == Result::Connect) {
                m_connect = line;
            }
            return *r;
        }
        switch (m_channel.receive(deadline)) {
            case LineWait::Data:
                break;
            case LineWait::Timeout:
                return Result::Timeout;
            case LineWait::Cancelled:
                return Result::Cancelled;
            case LineWait::Closed:
                return Result::LineError;
        }
    }
}

HayesModem::Result HayesModem::command(const QByteArray& cmd, double timeoutSeconds) {
    m_channel.discardInput();
    if (!m_channel.send(cmd + '\r')) {
        return Result::LineError;
    }
    const Result r = awaitResult(cmd, deadlineIn(timeoutSeconds));
    m_channel.trace().note(QStringLiteral("modem: %1").arg(name(r)));
    return r;
}

bool HayesModem::hangUp(bool carrierGone, double guardSeconds, double replySeconds) {
    if (m_channel.device().pulseDtr(500)) {
        m_channel.trace().note(QStringLiteral("hung up by dropping DTR"));
        m_channel.discardInput();
        return true;
    }
    carrierGone = carrierGone || m_channel.buffer().contains("NO CARRIER");
    if (!carrierGone) {
        m_channel.trace().note(QStringLiteral("no DTR on this line; escaping to command mode"));
        QByteArray scrap;
        // Guard time: stay silent, taking in whatever still arrives.
        const Deadline quiet = deadlineIn(guardSeconds);
        while (Clock::now() < quiet && !carrierGone) {
            if (m_channel.receive(quiet) == LineWait::Closed) {
                return false;
            }
            carrierGone = m_channel.buffer().contains("NO CARRIER");
        }
        m_channel.discardInput();
    }
    if (!carrierGone) {
        if (!m_channel.send("+++")) {
            return false;
        }
        const Result r = awaitResult({}, deadlineIn(guardSeconds + replySeconds));
        m_channel.trace().note(QStringLiteral("modem: %1").arg(name(r)));
    }
    return command("ATH0", replySeconds) == Result::Ok;
}

}  // namespace vts
