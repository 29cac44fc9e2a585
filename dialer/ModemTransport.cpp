#include "ModemTransport.h"

#include "Dialer.h"
#include "Tap.h"
#include "TraceLog.h"

#include <algorithm>

namespace vts {

namespace {

using R = HayesModem::Result;

PortStatus modemStatus(R r) {
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
}

// A command string from the record, on one line and 7-bit.
QByteArray commandText(const QString& field) {
    return tap::transliterate(field.trimmed()).replace('\r', "").replace('\n', "");
}

}  // namespace

ModemTransport::~ModemTransport() = default;

QList<Page*> ModemTransport::take(const QList<Page*>& pages) {
    m_all = pages;
    for (Page* p : pages) {
        (p->numeric() ? m_numeric : m_text).append(p);
    }
    return m_text + m_numeric;
}

double ModemTransport::hangupWait() const { return std::min(timeout(), m_opt.hangupReply); }

void ModemTransport::hangUp(bool carrierGone) {
    Cancellation::setWatched(false);
    m_modem->hangUp(carrierGone, m_opt.escapeGuard, hangupWait());
    Cancellation::setWatched(true);
}

bool ModemTransport::open(const QList<Page*>&) {
    auto fail = [&](PortStatus status, const QString& why) {
        failWaiting(m_all, status, why);
        return false;
    };
    const PortRecord& rec = call();
    const auto settings = LineSettings::parse(rec.comSettings);
    if (!settings) {
        return fail(PortStatus::ModemError,
                    QStringLiteral("bad line settings \"%1\"").arg(rec.comSettings.trimmed()));
    }
    const auto number = Dialer::dialableNumber(rec.phoneNumber.trimmed());
    if (!number) {
        return fail(
            PortStatus::Failed,
            QStringLiteral("phone number \"%1\" cannot be dialled").arg(rec.phoneNumber.trimmed()));
    }
    m_number = *number;
    trace().note(QStringLiteral("COM%1 is %2, %3")
                     .arg(rec.comPort)
                     .arg(m_target.device, settings->toString()));
    QString error;
    if (!m_port.open(m_target.device, *settings, m_opt.deviceWait, &error)) {
        return fail(Cancellation::requested() ? PortStatus::Cancelled : PortStatus::ModemError,
                    error);
    }
    if (!m_port.notice().isEmpty()) {
        trace().note(m_port.notice());
    }
    m_channel = std::make_unique<Channel>(m_port, trace());
    m_modem = std::make_unique<HayesModem>(*m_channel);
    const QByteArray userInit = commandText(rec.modemInitString);
    const QList<QByteArray> init =
        userInit.isEmpty() ? QList<QByteArray>{"ATZ", "ATE0V1Q0X4&C1&D2"} : QList{userInit};
    for (const QByteArray& cmd : init) {
        const R r = m_modem->command(cmd, timeout());
        if (r == R::Ok) {
            continue;
        }
        fail(modemStatus(r), QStringLiteral("modem answered %1 to %2")
                                 .arg(HayesModem::name(r), QString::fromLatin1(cmd)));
        if (r == R::Cancelled || r == R::Error) {
            Cancellation::setWatched(false);
            m_modem->command("ATH0", hangupWait());
        }
        return false;
    }
    const int speaker = std::clamp<int>(rec.speakerState, 0, 3),
              volume = std::clamp<int>(rec.volumeLevel, 0, 3);
    const R r =
        m_modem->command(QStringLiteral("ATM%1L%2").arg(speaker).arg(volume).toLatin1(), timeout());
    if (r == R::Cancelled || r == R::Timeout || r == R::LineError) {
        fail(modemStatus(r),
             QStringLiteral("modem answered %1 to the speaker setting").arg(HayesModem::name(r)));
        if (r == R::Cancelled) {
            hangUp(true);
        }
        return false;
    }
    m_dial = commandText(rec.modemDialString);
    if (m_dial.isEmpty()) {
        m_dial = "ATDT";
    }
    return true;
}

void ModemTransport::dialCall() {
    trace().note(QStringLiteral("dialling %1 for %2 page(s)")
                     .arg(QString::fromLatin1(m_number))
                     .arg(m_text.size()));
    const R r = m_modem->command(m_dial + m_number, timeout());
    if (r != R::Connect) {
        m_state = Call::Over;
        const QString why = QStringLiteral("dial: %1").arg(HayesModem::name(r));
        failWaiting(m_text, modemStatus(r), why);
        if (r == R::Timeout || r == R::Cancelled) {
            m_channel->send("\r");  // any character aborts a dial in progress
            hangUp(true);
            failWaiting(m_numeric, modemStatus(r), why);
        }
        return;
    }
    trace().note(QStringLiteral("connected: %1").arg(QString::fromLatin1(m_modem->connectLine())));
    m_state = Call::Up;
    m_call = std::make_unique<TapCall>(*m_channel, m_opt.tap, batch());
    if (!m_call->logOn(tap::transliterate(call().tapPassword.trimmed()))) {
        endCall();
    }
}

void ModemTransport::endCall() {
    if (m_state != Call::Up) {
        return;
    }
    m_state = Call::Over;
    m_call->end(m_text);
    failWaiting(m_text, Cancellation::requested() ? PortStatus::Cancelled : PortStatus::Failed,
                m_call->reason());
    hangUp(m_call->carrierLost());
}

Outcome ModemTransport::send(Page& page) {
    if (page.numeric()) {
        endCall();
        return dialNumeric(page);
    }
    if (m_state == Call::NotDialled) {
        dialCall();
    }
    if (m_state != Call::Up) {
        return Outcome::written();
    }
    const Outcome o = m_call->send(page);
    if (o.kind != Outcome::Kind::Down) {
        return o;
    }
    endCall();
    return Outcome::written();
}

Outcome ModemTransport::dialNumeric(Page& page) {
    if (Cancellation::requested()) {
        return Outcome::with(PortStatus::Cancelled, QStringLiteral("stopped"));
    }
    // A comma waits 2 s; at least one, since tones sent before the
    // service answers are lost.
    const int pauses = std::max(1, (page.rec.delay + 1) / 2);
    const QByteArray cmd = m_dial + m_number + QByteArray(pauses, ',') + page.digits + "#;";
    const R r = m_modem->command(cmd, timeout() + std::max<int>(0, page.rec.delay));
    if (r == R::Ok) {
        batch().setStatus(page, PortStatus::Sent, {});
    } else {
        batch().setStatus(page, modemStatus(r),
                          QStringLiteral("numeric dial: %1").arg(HayesModem::name(r)));
    }
    if (r == R::Connect || r == R::Cancelled || r == R::Timeout) {
        if (r == R::Timeout) {
            m_channel->send("\r");
        }
        hangUp(r != R::Connect);
    } else {
        Cancellation::setWatched(false);
        m_modem->command("ATH0", hangupWait());
        Cancellation::setWatched(true);
    }
    return Outcome::written();
}

void ModemTransport::close(const QList<Page*>&) {
    endCall();
    m_port.close();
}

}  // namespace vts
