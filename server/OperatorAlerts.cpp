#include "OperatorAlerts.h"

#include "AlertMailer.h"
#include "AlertSound.h"
#include "Conversions.h"
#include "EventLoop.h"
#include "MonitorView.h"
#include "PagerOCX.h"
#include "StatusListModel.h"

namespace vts {

namespace {
constexpr int kContinuousMs = 2000;
constexpr int kEveryMinuteMs = 60000;
}  // namespace

OperatorAlerts::OperatorAlerts(EventLoop& loop, StatusListModel& status, MonitorView& view,
                               AlertSound& sound, AlertMailer& mailer)
    : m_loop(loop), m_status(status), m_view(view), m_sound(sound), m_mailer(mailer) {
    m_timer2 = m_loop.createTimer(kContinuousMs, [this] { m_sound.play(); });
    m_mailDone = QObject::connect(
        &m_mailer, &AlertMailer::mailFinished,
        [this](bool ok, const QString& error, const QString& list) {
            if (!ok) {
                m_status.AddStatus(QStringLiteral("Error: alert e-mail to ") + list +
                                   QStringLiteral(" was not sent: ") + error);
            }
        });
}

OperatorAlerts::~OperatorAlerts() { QObject::disconnect(m_mailDone); }

void OperatorAlerts::raise(const ServerSettings& s, const QString& uniqueId,
                           const QString& phoneNumber, const QString& pin,
                           std::int16_t modemErrorFlag) {
    if (modemErrorFlag > 0 && s.ModemFailAlert != 0) {
        const QString flag = QString::number(modemErrorFlag);
        alert(s, Kind::Modem, QStringLiteral("VT SERVER MODEM ERROR ON COM PORT #") + flag,
              QStringLiteral("Modem error on COM port #") + flag + QStringLiteral("\r\n\r\n") +
                  QStringLiteral("Ph#=") + phoneNumber + QStringLiteral(" PIN=") + pin +
                  QStringLiteral(" ID=") + uniqueId);
    }
    if (s.PageFailAlert != 0) {
        alert(s, Kind::Transmission,
              QStringLiteral("VT SERVER TRANSMISSION ERROR: MESSAGE ID #") + uniqueId,
              QStringLiteral("Message failed: Ph#=") + phoneNumber + QStringLiteral(" PIN=") + pin +
                  QStringLiteral(" ID=") + uniqueId);
    }
}

void OperatorAlerts::alert(const ServerSettings& s, Kind kind, const QString& text,
                           const QString& label) {
    page(s, kind, text);
    mail(s, text);
    if (s.VisualAlert != 0) {
        m_view.showVisualAlert(label);
    }
    sound(s);
}

void OperatorAlerts::page(const ServerSettings& s, Kind kind, const QString& text) {
    if (s.AlertByPage == 0) {
        return;
    }
    const QString phone = conv::trim(s.AlertAlphaPhoneNumber);
    const QString pin = conv::trim(s.AlertPIN);
    if (phone.isEmpty() || pin.isEmpty() || !m_pager) {
        return;
    }
    m_pager->SendMessage(text, phone, pin, 0, QStringLiteral("Alert"));
    const bool refused = m_pager->SubmitStatus() >= 1;
    if (kind == Kind::Modem) {
        m_status.AddStatus((refused ? QStringLiteral("Error sending an modem alert to pager: ")
                                    : QStringLiteral("Modem alert sent to pager: ")) +
                           phone);
    } else {
        m_status.AddStatus((refused ? QStringLiteral("Error sending an error message to pager: ")
                                    : QStringLiteral("Error message sent to pager: ")) +
                           phone);
    }
}

void OperatorAlerts::mail(const ServerSettings& s, const QString& text) {
    if (s.ALertByEMail == 0) {
        return;
    }
    const QString first = conv::trim(s.AlertEMailAddress);
    const QString pager = conv::trim(s.AlertPagerEMailAddress);
    if (first.isEmpty() && pager.isEmpty()) {
        return;
    }
    QString list = first;
    if (!first.isEmpty()) {
        list += QLatin1Char(',');
    }
    list = conv::trim(list + pager);
    m_mailer.send({list, kSubject, text, conv::trim(s.AlertSMTPServer)});
    if (!first.isEmpty()) {
        m_status.AddStatus(QStringLiteral("Error message e-mailed to: ") + first);
    }
    if (!pager.isEmpty()) {
        m_status.AddStatus(QStringLiteral("Error message e-mailed to pager address: ") + pager);
    }
}

// AtIntervalsTime as the configuration program labels it: 0 "Only Once",
// 1 "Continuously" (every 2 seconds), 2 "Every Minute"; the repeating kinds
// sound at once and then at each tick of Timer2 until "Cancel Alert".
void OperatorAlerts::sound(const ServerSettings& s) {
    if (s.AudioAlert == 0) {
        return;
    }
    m_sound.play();
    if (s.AtIntervalsTime == 1) {
        m_timer2->setInterval(kContinuousMs);
        m_timer2->start();
    } else if (s.AtIntervalsTime == 2) {
        m_timer2->setInterval(kEveryMinuteMs);
        m_timer2->start();
    }
}

void OperatorAlerts::cancel() { m_timer2->stop(); }

}  // namespace vts
