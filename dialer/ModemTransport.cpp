#include "ModemTransport.h"

#include "HayesModem.h"
#include "Line.h"
#include "Tap.h"
#include "TraceLog.h"

#include <algorithm>

namespace vts {

void ModemTransport::deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) {
    QList<Page*> tapJobs, numericJobs;
    for (Page* p : pages) {
        (p->numeric() ? numericJobs : tapJobs).append(p);
    }
    auto failAll = [&](const QList<Page*>& list, PortStatus status, const QString& why) {
        for (Page* p : list) {
            if (p->waiting()) {
                batch.setStatus(*p, status, why);
            }
        }
    };
    TraceLog& trace = batch.trace();
    const QList<Page*>& all = pages;
    const double timeout = callTimeout(call);
    const auto settings = LineSettings::parse(call.comSettings);
    if (!settings) {
        return failAll(all, PortStatus::ModemError,
                       QStringLiteral("bad line settings \"%1\"").arg(call.comSettings.trimmed()));
    }
    const auto number = Dialer::dialableNumber(call.phoneNumber.trimmed());
    if (!number) {
        return failAll(all, PortStatus::Failed,
                       QStringLiteral("phone number \"%1\" cannot be dialled")
                           .arg(call.phoneNumber.trimmed()));
    }

    const QString& device = m_target.device;
    trace.note(
        QStringLiteral("COM%1 is %2, %3").arg(call.comPort).arg(device, settings->toString()));
    SerialPort port;
    QString error;
    if (!port.open(device, *settings, m_opt.deviceWait, &error)) {
        return failAll(
            all, Cancellation::requested() ? PortStatus::Cancelled : PortStatus::ModemError, error);
    }
    if (!port.notice().isEmpty()) {
        trace.note(port.notice());
    }
    Channel channel(port, trace);
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
        trace.note(QStringLiteral("dialling %1 for %2 page(s)")
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
            trace.note(
                QStringLiteral("connected: %1").arg(QString::fromLatin1(modem.connectLine())));
            const TapSessionEnd end = deliverTapSession(
                channel, m_opt.tap, tap::transliterate(call.tapPassword.trimmed()), tapJobs, batch);
            const auto rest =
                Cancellation::requested() ? PortStatus::Cancelled : PortStatus::Failed;
            failAll(tapJobs, rest, end.reason);
            endCall(end.carrierLost);
        }
    }

    for (Page* job : numericJobs) {
        if (Cancellation::requested()) {
            batch.setStatus(*job, PortStatus::Cancelled, QStringLiteral("stopped"));
            continue;
        }
        // A comma waits 2 s; at least one, since tones sent before the
        // service answers are lost.
        const int pauses = std::max(1, (job->rec.delay + 1) / 2);
        const QByteArray cmd = dial + *number + QByteArray(pauses, ',') + job->digits + "#;";
        const R r = modem.command(cmd, timeout + std::max<int>(0, job->rec.delay));
        if (r == R::Ok) {
            batch.setStatus(*job, PortStatus::Sent, {});
        } else {
            batch.setStatus(*job, modemStatus(r),
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
