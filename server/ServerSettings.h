#pragma once

#include <QString>

#include <optional>

namespace vts::db {
class Recordset;
}

namespace vts {

// The settings row as the server holds it between loads (the window
// variables of frmMonitor), plus PMFExpireDays read from the same row.
// Number fields that hold no value count as 0, texts as "".
struct ServerSettings {
    qint32 CheckTime = 0;
    qint32 DialingDelay = 0;
    qint32 DelayBeforeRetries = 0;
    qint32 NumberOfRetries = 0;
    QString SystemPassword;
    QString MessageQueueLocation;
    qint32 AlertByPage = 0;
    QString AlertPIN;
    QString AlertAlphaPhoneNumber;
    qint32 ALertByEMail = 0;
    QString AlertEMailAddress;
    QString AlertSMTPServer;
    QString AlertPagePassword;
    QString AlertPagerEMailAddress;
    qint32 VisualAlert = 0;
    qint32 AudioAlert = 0;
    qint32 AtIntervalsTime = 0;
    qint32 Speaker = 0;
    qint32 TimeOut = 0;
    qint32 PageFailAlert = 0;
    qint32 ModemFailAlert = 0;
    // Empty: the expiry sweep deletes nothing.
    std::optional<double> PMFExpireDays;

    // Copies the fields of the row the record set stands on.
    static ServerSettings fromRow(const db::Recordset& row);
};

// The pager control's properties as ApplyPagerSettings sets them.
struct PagerSettings {
    qint32 NumberOfRetries = 0;
    qint32 RetryDelay = 5;
    qint32 SpeakerState = 1;
    qint32 VolumeLevel = 1;
    qint32 Timeout = 60;
    qint32 DebugMode = 1;
};

namespace settings {

// Seconds between queue checks for a stored CheckTime position.
int checkIntervalSeconds(qint32 checkTime);
// The conversion table of ApplyPagerSettings.
PagerSettings pagerSettings(const ServerSettings& s);

}  // namespace settings
}  // namespace vts
