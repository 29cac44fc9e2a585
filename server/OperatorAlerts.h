#pragma once

#include "ServerSettings.h"

#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <memory>

class PagerOCX;

namespace vts {

class AlertMailer;
class AlertSound;
class EventLoop;
class MonitorView;
class StatusListModel;
class Timer;

// The operator alerts raised for a finally failed message: a modem alert and
// a transmission alert, each by page, e-mail, window and sound as the
// settings say. Owns the alert timer Timer2, which repeats the sound until
// cancel() stops it. Mail goes out on the mailer's own thread; its failures
// come back as status lines and never hold up the caller.
class OperatorAlerts final {
public:
    static inline const QString kSubject = QStringLiteral("VT Server Alert!");

    OperatorAlerts(EventLoop& loop, StatusListModel& status, MonitorView& view, AlertSound& sound,
                   AlertMailer& mailer);
    ~OperatorAlerts();

    void setPager(PagerOCX* pager) { m_pager = pager; }

    // Raises the alerts for one failed message under the given settings.
    void raise(const ServerSettings& s, const QString& uniqueId, const QString& phoneNumber,
               const QString& pin, std::int16_t modemErrorFlag);
    // "Cancel Alert": stops the repeating sound.
    void cancel();
    Timer& timer2() { return *m_timer2; }

private:
    enum class Kind { Modem, Transmission };
    void alert(const ServerSettings& s, Kind kind, const QString& text, const QString& label);
    void page(const ServerSettings& s, Kind kind, const QString& text);
    void mail(const ServerSettings& s, const QString& text);
    void sound(const ServerSettings& s);

    EventLoop& m_loop;
    StatusListModel& m_status;
    MonitorView& m_view;
    AlertSound& m_sound;
    AlertMailer& m_mailer;
    PagerOCX* m_pager = nullptr;
    std::unique_ptr<Timer> m_timer2;
    QMetaObject::Connection m_mailDone;
};

}  // namespace vts
