#include "Dialer.h"

#include "HayesModem.h"
#include "IniFile.h"
#include "Line.h"
#include "RunGuard.h"
#include "Tap.h"
#include "TraceLog.h"

#include <TextFile.h>

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

namespace vts {

namespace {

constexpr int kStatusOffset = 634;
constexpr int kIndexOffset = 738;
constexpr int kMaxMessages = 800;  // the pager control's queue size

void putStatus(QByteArray& record, std::int16_t status) {
    const auto u = static_cast<std::uint16_t>(status);
    record[kStatusOffset] = static_cast<char>(u & 0xFF);
    record[kStatusOffset + 1] = static_cast<char>(u >> 8);
}

std::int16_t statusOf(PortStatus s) { return static_cast<std::int16_t>(s); }

}  // namespace

QString DialerOptions::devicePath(int comPort) const {
    for (const auto& [n, path] : ports) {
        if (n == comPort) {
            return path;
        }
    }
    return QStringLiteral("/dev/ttyS%1").arg(comPort - 1);
}

DialerOptions DialerOptions::fromIni(const QString& path) {
    DialerOptions o;
    const IniFile ini = IniFile::load(path);
    for (int n = 1; n <= 99; ++n) {
        if (auto v = ini.value(QStringLiteral("ports"), QStringLiteral("COM%1").arg(n));
            v && !v->isEmpty()) {
            o.ports.append({n, *v});
        }
    }
    const QString tap = QStringLiteral("tap"), modem = QStringLiteral("modem");
    o.tap.t1 = std::max(0.1, ini.number(tap, QStringLiteral("t1"), o.tap.t1));
    o.tap.t3 = std::max(0.1, ini.number(tap, QStringLiteral("t3"), o.tap.t3));
    o.tap.n1 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n1"), o.tap.n1)), 1, 20);
    o.tap.n2 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n2"), o.tap.n2)), 0, 20);
    o.tap.n3 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n3"), o.tap.n3)), 1, 20);
    o.tap.nakResends = std::clamp(
        static_cast<int>(ini.number(tap, QStringLiteral("nak"), o.tap.nakResends)), 0, 20);
    o.escapeGuard = ini.number(modem, QStringLiteral("guard"), o.escapeGuard);
    o.deviceWait = ini.number(modem, QStringLiteral("devicewait"), o.deviceWait);
    o.hangupReply = ini.number(modem, QStringLiteral("hangupreply"), o.hangupReply);
    return o;
}

QByteArray Dialer::prepareText(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(u'\r', u'\n');
    qsizetype end = t.size();
    while (end > 0 && (t[end - 1] == u' ' || t[end - 1] == u'\n' || t[end - 1] == u'\t')) {
        --end;
    }
    t.truncate(end);
    return tap::transliterate(t);
}

std::optional<QByteArray> Dialer::dialableNumber(const QString& phone) {
    QByteArray out;
    for (QChar c : phone) {
        if (c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')') {
            continue;
        }
        if (c.isDigit() && c.unicode() < 0x80) {
            out.append(static_cast<char>(c.unicode()));
        } else if (QStringLiteral("*#,WwPpTt@!").contains(c)) {
            out.append(static_cast<char>(c.toUpper().unicode()));
        } else {
            return std::nullopt;
        }
    }
    if (out.isEmpty()) {
        return std::nullopt;
    }
    return out;
}

QByteArray Dialer::numericDigits(const QString& message) {
    QByteArray out;
    for (QChar c : message) {
        if (c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')') {
            continue;
        }
        if ((c.isDigit() && c.unicode() < 0x80) || c == u'*') {
            out.append(static_cast<char>(c.unicode()));
        } else {
            return {};
        }
    }
    return out;
}

std::optional<QString> Dialer::readTextFile(const QString& path, QString* why) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = QStringLiteral("cannot open %1").arg(path);
        return std::nullopt;
    }
    struct stat st {};
    QByteArray bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        *why = QStringLiteral("%1 is not a regular file").arg(path);
    }
    if (ok && st.st_size > kMaxFileBytes) {
        *why = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
        ok = false;
    }
    if (ok) {
        bytes.resize(kMaxFileBytes + 1);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n =
                ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += n;
        }
        bytes.truncate(got);
        if (got > kMaxFileBytes) {
            *why = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return text::fromWin1252(bytes);
}

bool Dialer::writeStatus(int record, std::int16_t status) {
    auto bytes = portfile::readRecord(m_path, record);
    if (!bytes) {
        return false;
    }
    putStatus(*bytes, status);
    return portfile::writeRecord(m_path, record, *bytes);
}

void Dialer::setStatus(Job& job, PortStatus status, const QString& why) {
    // A run stopped because its server ended was not cancelled by anyone:
    // its unfinished pages failed this attempt and are retried.
    QString reason = why;
    if (status == PortStatus::Cancelled && RunGuard::stoppedByParentDeath()) {
        status = PortStatus::Failed;
        reason = QStringLiteral("the server that started this run has ended");
    }
    job.status = statusOf(status);
    m_trace->note(QStringLiteral("record %1 (slot %2): status %3%4")
                      .arg(job.record)
                      .arg(job.rec.index)
                      .arg(job.status)
                      .arg(reason.isEmpty() ? QString() : QStringLiteral(", ") + reason));
    if (!writeStatus(job.record, job.status)) {
        m_trace->note(QStringLiteral("cannot write record %1").arg(job.record));
    }
}

void Dialer::failAll(const QList<Job*>& jobs, PortStatus status, const QString& why) {
    for (Job* j : jobs) {
        if (j->status == 1) {
            setStatus(*j, status, why);
        }
    }
}

void Dialer::finishHeader(std::int16_t status) {
    auto bytes = portfile::readRecord(m_path, 1);
    if (!bytes) {
        // A header cut short: complete it so the control can read a final
        // status; a count that was cut off reads as no messages.
        QFile f(m_path);
        QByteArray have;
        if (f.open(QIODevice::ReadOnly)) {
            have = f.read(PortRecord::kSize);
        }
        const qsizetype had = have.size();
        have.append(QByteArray(PortRecord::kSize - had, ' '));
        if (had < kIndexOffset + 4) {
            have.replace(kIndexOffset, 4, QByteArray(4, '\0'));
        }
        bytes = have;
    }
    putStatus(*bytes, status);
    if (m_trace) {
        m_trace->note(QStringLiteral("header: final status %1").arg(status));
    }
    portfile::writeRecord(m_path, 1, *bytes);
}

int Dialer::run(int portIndex) {
    m_path = m_dir + u'/' + portfile::fileName(portIndex);
    TraceLog trace;
    m_trace = &trace;
    if (!QFileInfo(m_path).isFile()) {
        return 2;
    }
    const auto headerBytes = portfile::readRecord(m_path, 1);
    if (!headerBytes) {
        finishHeader(statusOf(PortStatus::Failed));
        return 1;
    }
    const PortRecord header = *PortRecord::decode(*headerBytes);
    if (header.status != statusOf(PortStatus::Busy)) {
        return 2;
    }
    if (header.debugMode == 1) {
        trace.open(m_dir + QStringLiteral("/KRX%1.log").arg(portIndex));
    }
    trace.note(QStringLiteral("dialer run for %1").arg(portfile::fileName(portIndex)));

    const int count = header.index;
    if (count < 1 || count > kMaxMessages || portfile::recordCount(m_path) < count + 1) {
        trace.note(QStringLiteral("damaged port file: count %1, %2 whole records")
                       .arg(count)
                       .arg(portfile::recordCount(m_path)));
        finishHeader(statusOf(PortStatus::Failed));
        return 1;
    }
    for (int r = 2; r <= count + 1; ++r) {
        const auto bytes = portfile::readRecord(m_path, r);
        if (!bytes) {
            trace.note(QStringLiteral("cannot read record %1").arg(r));
            finishHeader(statusOf(PortStatus::Failed));
            return 1;
        }
        Job job;
        job.record = r;
        job.rec = *PortRecord::decode(*bytes);
        if (job.rec.status != statusOf(PortStatus::Busy)) {
            trace.note(QStringLiteral("record %1 is not waiting (status %2); left alone")
                           .arg(r)
                           .arg(job.rec.status));
            continue;
        }
        m_jobs.append(job);
    }

    QList<Job*> tapJobs, numericJobs;
    const QString callNumber =
        m_jobs.isEmpty() ? QString() : m_jobs.first().rec.phoneNumber.trimmed();
    for (Job& job : m_jobs) {
        const PortRecord& rec = job.rec;
        if (rec.phoneNumber.trimmed() != callNumber) {
            // One run makes one call; a page for another service must not go to this one.
            setStatus(job, PortStatus::Failed,
                      QStringLiteral("phone number differs from the batch's"));
            continue;
        }
        if (rec.kind == 1) {
            job.digits = numericDigits(rec.message.trimmed());
            if (job.digits.isEmpty()) {
                setStatus(job, PortStatus::Failed, QStringLiteral("no digits to send"));
            } else {
                numericJobs.append(&job);
            }
            continue;
        }
        if (rec.kind != 0 && rec.kind != 2) {
            setStatus(job, PortStatus::Failed, QStringLiteral("unknown kind %1").arg(rec.kind));
            continue;
        }
        const QByteArray pin = tap::transliterate(rec.pin.trimmed());
        if (pin.isEmpty()) {
            setStatus(job, PortStatus::Failed, QStringLiteral("no PIN"));
            continue;
        }
        QString text = rec.message;
        if (rec.kind == 2) {
            QString name = rec.asciiFilename.trimmed();
            name.replace(u'\\', u'/');
            if (name.isEmpty()) {
                setStatus(job, PortStatus::Failed, QStringLiteral("no text file named"));
                continue;
            }
            if (!name.startsWith(u'/')) {
                name = m_dir + u'/' + name;
            }
            QString why;
            const auto content = readTextFile(name, &why);
            if (!content || content->trimmed().isEmpty()) {
                setStatus(job, PortStatus::Failed,
                          content ? QStringLiteral("empty text file") : why);
                continue;
            }
            text = *content;
        }
        job.blocks = tap::buildBlocks({pin, prepareText(text)}, rec.maxCharactersPerBlock);
        tapJobs.append(&job);
    }

    if (!tapJobs.isEmpty() || !numericJobs.isEmpty()) {
        deliver(tapJobs, numericJobs, (tapJobs.isEmpty() ? numericJobs : tapJobs).first()->rec);
    }

    std::int16_t final =
        m_jobs.isEmpty() ? statusOf(PortStatus::Failed) : statusOf(PortStatus::Sent);
    for (const Job& j : m_jobs) {
        final = std::max(final, j.status == 1 ? statusOf(PortStatus::Failed) : j.status);
    }
    finishHeader(final);
    return final == statusOf(PortStatus::Sent) ? 0 : 1;
}

void Dialer::deliver(const QList<Job*>& tapJobs, const QList<Job*>& numericJobs,
                     const PortRecord& call) {
    const QList<Job*> all = tapJobs + numericJobs;
    if (Cancellation::requested()) {
        return failAll(all, PortStatus::Cancelled, QStringLiteral("stopped"));
    }
    const double timeout = call.timeout <= 0 ? 60.0 : std::min<double>(call.timeout, 300.0);
    const auto settings = LineSettings::parse(call.comSettings);
    if (!settings) {
        return failAll(all, PortStatus::ModemError,
                       QStringLiteral("bad line settings \"%1\"").arg(call.comSettings.trimmed()));
    }
    const auto number = dialableNumber(call.phoneNumber.trimmed());
    if (!number) {
        return failAll(all, PortStatus::Failed,
                       QStringLiteral("phone number \"%1\" cannot be dialled")
                           .arg(call.phoneNumber.trimmed()));
    }
    if (call.comPort < 1) {
        return failAll(all, PortStatus::ModemError, QStringLiteral("no COM port"));
    }

    const QString device = m_opt.devicePath(call.comPort);
    m_trace->note(
        QStringLiteral("COM%1 is %2, %3").arg(call.comPort).arg(device, settings->toString()));
    SerialPort port;
    QString error;
    if (!port.open(device, *settings, m_opt.deviceWait, &error)) {
        return failAll(
            all, Cancellation::requested() ? PortStatus::Cancelled : PortStatus::ModemError, error);
    }
    if (!port.notice().isEmpty()) {
        m_trace->note(port.notice());
    }
    Channel channel(port, *m_trace);
    HayesModem modem(channel);
    using R = HayesModem::Result;
    auto modemStatus = [](R r) {
        switch (r) {
            case R::Cancelled:
                return PortStatus::Cancelled;
            case R::Busy:
            case R::NoAnswer:
            case R::NoCarrier:
            case R::Connect:
                return PortStatus::Failed;
            default:
                return PortStatus::ModemError;
        }
    };
    auto endCall = [&](bool carrierGone) {
        Cancellation::setWatched(false);
        modem.hangUp(carrierGone, m_opt.escapeGuard, std::min(timeout, m_opt.hangupReply));
        Cancellation::setWatched(true);
    };

    QList<QByteArray> init;
    const QByteArray userInit =
        tap::transliterate(call.modemInitString.trimmed()).replace('\r', "").replace('\n', "");
    if (userInit.isEmpty()) {
        init = {"ATZ", "ATE0V1Q0X4&C1&D2"};
    } else {
        init = {userInit};
    }
    for (const QByteArray& cmd : init) {
        const R r = modem.command(cmd, timeout);
        if (r == R::Ok) {
            continue;
        }
        failAll(all, modemStatus(r),
                QStringLiteral("modem answered %1 to %2")
                    .arg(HayesModem::name(r), QString::fromLatin1(cmd)));
        if (r == R::Cancelled || r == R::Error) {
            Cancellation::setWatched(false);
            modem.command("ATH0", std::min(timeout, m_opt.hangupReply));
        }
        return;
    }
    const int speaker = std::clamp<int>(call.speakerState, 0, 3),
              volume = std::clamp<int>(call.volumeLevel, 0, 3);
    if (const R r =
            modem.command(QStringLiteral("ATM%1L%2").arg(speaker).arg(volume).toLatin1(), timeout);
        r != R::Ok) {
        if (r == R::Cancelled || r == R::Timeout || r == R::LineError) {
            failAll(all, modemStatus(r),
                    QStringLiteral("modem answered %1 to the speaker setting")
                        .arg(HayesModem::name(r)));
            if (r == R::Cancelled) {
                endCall(true);
            }
            return;
        }
    }
    QByteArray dial =
        tap::transliterate(call.modemDialString.trimmed()).replace('\r', "").replace('\n', "");
    if (dial.isEmpty()) {
        dial = "ATDT";
    }

    if (!tapJobs.isEmpty()) {
        m_trace->note(QStringLiteral("dialling %1 for %2 page(s)")
                          .arg(QString::fromLatin1(*number))
                          .arg(tapJobs.size()));
        const R r = modem.command(dial + *number, timeout);
        if (r != R::Connect) {
            failAll(tapJobs, modemStatus(r), QStringLiteral("dial: %1").arg(HayesModem::name(r)));
            // Any character aborts a dial in progress.
            if (r == R::Timeout || r == R::Cancelled) {
                channel.send("\r");
            }
            if (r == R::Cancelled || r == R::Timeout) {
                endCall(true);
                return failAll(numericJobs, modemStatus(r),
                               QStringLiteral("dial: %1").arg(HayesModem::name(r)));
            }
        } else {
            m_trace->note(
                QStringLiteral("connected: %1").arg(QString::fromLatin1(modem.connectLine())));
            TapClient client(channel, m_opt.tap);
            const QByteArray password = tap::transliterate(call.tapPassword.trimmed());
            const auto logOn = client.logOn(password);
            if (logOn == TapClient::LogOnResult::Accepted) {
                for (Job* job : tapJobs) {
                    if (!client.callUp()) {
                        break;
                    }
                    switch (client.sendPage(job->blocks)) {
                        case TapClient::PageResult::Accepted:
                            setStatus(*job, PortStatus::Sent, {});
                            break;
                        case TapClient::PageResult::Rejected:
                            setStatus(*job, PortStatus::Failed, client.reason());
                            break;
                        case TapClient::PageResult::NotSent:
                            break;
                    }
                }
                client.logOff();
            }
            const auto rest = client.cancelled() ? PortStatus::Cancelled : PortStatus::Failed;
            failAll(tapJobs, rest, client.reason());
            endCall(client.carrierLost());
        }
    }

    for (Job* job : numericJobs) {
        if (Cancellation::requested()) {
            setStatus(*job, PortStatus::Cancelled, QStringLiteral("stopped"));
            continue;
        }
        // A comma waits 2 s; at least one, since tones sent before the
        // service answers are lost.
        const int pauses = std::max(1, (job->rec.delay + 1) / 2);
        const QByteArray cmd = dial + *number + QByteArray(pauses, ',') + job->digits + "#;";
        const R r = modem.command(cmd, timeout + std::max<int>(0, job->rec.delay));
        if (r == R::Ok) {
            setStatus(*job, PortStatus::Sent, {});
        } else {
            setStatus(*job, modemStatus(r),
                      QStringLiteral("numeric dial: %1").arg(HayesModem::name(r)));
        }
        if (r == R::Connect || r == R::Cancelled || r == R::Timeout) {
            if (r == R::Timeout) {
                channel.send("\r");
            }
            endCall(r != R::Connect);
        } else {
            Cancellation::setWatched(false);
            modem.command("ATH0", std::min(timeout, m_opt.hangupReply));
            Cancellation::setWatched(true);
        }
    }
}

}  // namespace vts
