#include "ServerSettings.h"

#include "Database.h"

#include <cmath>
#include <limits>

namespace vts {

namespace {

// A number field as a 32-bit integer; null, empty, non-numeric or
// out-of-range values count as 0.
qint32 number(const db::Recordset& row, const QString& field) {
    const QVariant v = row.value(field);
    if (!v.isValid() || v.isNull()) {
        return 0;
    }
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d)) {
        return 0;
    }
    if (d < std::numeric_limits<qint32>::min() || d > std::numeric_limits<qint32>::max()) {
        return 0;
    }
    return static_cast<qint32>(std::llround(d));
}

QString text(const db::Recordset& row, const QString& field) {
    const QVariant v = row.value(field);
    return v.isValid() && !v.isNull() ? v.toString() : QString();
}

}  // namespace

ServerSettings ServerSettings::fromRow(const db::Recordset& row) {
    ServerSettings s;
    s.CheckTime = number(row, QStringLiteral("CheckTime"));
    s.DialingDelay = number(row, QStringLiteral("DialingDelay"));
    s.DelayBeforeRetries = number(row, QStringLiteral("DelayBeforeRetries"));
    s.NumberOfRetries = number(row, QStringLiteral("NumberOfRetries"));
    s.SystemPassword = text(row, QStringLiteral("SystemPassword"));
    s.MessageQueueLocation = text(row, QStringLiteral("MessageQueueLocation"));
    s.AlertByPage = number(row, QStringLiteral("AlertByPage"));
    s.AlertPIN = text(row, QStringLiteral("AlertPIN"));
    s.AlertAlphaPhoneNumber = text(row, QStringLiteral("AlertAlphaPhoneNumber"));
    s.ALertByEMail = number(row, QStringLiteral("ALertByEMail"));
    s.AlertEMailAddress = text(row, QStringLiteral("AlertEMailAddress"));
    s.AlertSMTPServer = text(row, QStringLiteral("AlertSMTPServer"));
    s.AlertPagePassword = text(row, QStringLiteral("AlertPagePassword"));
    s.AlertPagerEMailAddress = text(row, QStringLiteral("AlertPagerEMailAddress"));
    s.VisualAlert = number(row, QStringLiteral("VisualAlert"));
    s.AudioAlert = number(row, QStringLiteral("AudioAlert"));
    s.AtIntervalsTime = number(row, QStringLiteral("AtIntervalsTime"));
    s.Speaker = number(row, QStringLiteral("Speaker"));
    s.TimeOut = number(row, QStringLiteral("TimeOut"));
    s.PageFailAlert = number(row, QStringLiteral("PageFailAlert"));
    s.ModemFailAlert = number(row, QStringLiteral("ModemFailAlert"));

    const QVariant expire = row.value(QStringLiteral("PMFExpireDays"));
    if (expire.isValid() && !expire.isNull() && !expire.toString().trimmed().isEmpty()) {
        bool ok = false;
        const double d = expire.toDouble(&ok);
        if (ok && std::isfinite(d)) {
            s.PMFExpireDays = d;
        }
    }
    return s;
}

namespace settings {

int checkIntervalSeconds(qint32 checkTime) {
    switch (checkTime) {
        case 1:
            return 60;
        case 2:
            return 300;
        case 3:
            return 600;
        case 4:
            return 900;
        case 5:
            return 1800;
        case 6:
            return 3600;
        case 7:
            return 24 * 3600;
        default:
            return 5;
    }
}

PagerSettings pagerSettings(const ServerSettings& s) {
    PagerSettings p;
    p.NumberOfRetries = s.NumberOfRetries >= 1 && s.NumberOfRetries <= 10 ? s.NumberOfRetries : 0;
    switch (s.DelayBeforeRetries) {
        case 1:
            p.RetryDelay = 1;
            break;
        case 3:
            p.RetryDelay = 30;
            break;
        case 4:
            p.RetryDelay = 45;
            break;
        case 5:
            p.RetryDelay = 60;
            break;
        default:
            p.RetryDelay = 5;
            break;
    }
    switch (s.Speaker) {
        case 0:
            p.SpeakerState = 0;
            p.VolumeLevel = 0;
            break;
        case 2:
            p.SpeakerState = 1;
            p.VolumeLevel = 2;
            break;
        case 3:
            p.SpeakerState = 1;
            p.VolumeLevel = 3;
            break;
        default:
            p.SpeakerState = 1;
            p.VolumeLevel = 1;
            break;
    }
    switch (s.TimeOut) {
        case 0:
            p.Timeout = 5;
            break;
        case 1:
            p.Timeout = 15;
            break;
        case 2:
            p.Timeout = 30;
            break;
        case 4:
            p.Timeout = 120;
            break;
        default:
            p.Timeout = 60;
            break;
    }
    p.DebugMode = 1;
    return p;
}

}  // namespace settings
}  // namespace vts
