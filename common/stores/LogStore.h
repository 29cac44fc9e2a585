#pragma once

#include "Database.h"

#include <QString>

#include <memory>

// The message log store VTSLog.MDB: tblLog and tblReportInfo.
namespace vts::logstore {

inline const QString kFileName = QStringLiteral("VTSLog.MDB");    // looked for
inline const QString kCreateName = QStringLiteral("VTSLog.mdb");  // created as
inline const QString kOldName = QStringLiteral("VTSLog.old");

// Field widths of tblLog (characters).
inline constexpr int kStatusDescriptionWidth = 100;
inline constexpr int kTypeWidth = 255;
inline constexpr int kSenderWidth = 30;
inline constexpr int kDepartmentWidth = 50;
inline constexpr int kRecipientWidth = 30;
inline constexpr int kPhoneWidth = 50;
inline constexpr int kPinWidth = 20;
inline constexpr int kPasswordWidth = 20;
inline constexpr int kComPortSettingWidth = 20;
inline constexpr int kModemStringWidth = 30;
inline constexpr int kEMailWidth = 50;
inline constexpr int kSmtpWidth = 50;
inline constexpr int kUniqueIdWidth = 255;

bool present(const QString& dir);
db::TableDef logTable();
db::TableDef reportInfoTable();
// Creates VTSLog.mdb in `dir` with both tables (tblReportInfo empty).
void create(const QString& dir);
std::unique_ptr<db::Database> open(const QString& dir);
// tblCause: why a page was not delivered, one row per tblLog.ID, beside
// tblLog whose fields stay as they are. Made in stores that lack it the
// first time a cause is written.
inline const QString kCauseTable = QStringLiteral("tblCause");
inline constexpr int kCauseWidth = 300;
void createCauseTable(db::Database& log);
// Keeps `cause` (cut to kCauseWidth) as the cause of log row `id`, replacing
// an earlier one; throws db::DbError.
void writeCause(db::Database& log, qint64 id, const QString& cause);
// The account that sent a queue file through the gateway, kept by the
// file's name (the UniqueID its log row will carry) beside tblLog, whose
// fields stay as they are; created on the first one.
inline const QString kGatewayUserTable = QStringLiteral("tblGatewayUser");
void writeGatewayUser(db::Database& log, const QString& file, const QString& user);
// The account, or an empty text when none is kept.
QString gatewayUserOf(db::Database& log, const QString& file);
// What readers of the log select rows from: tblLog with the field Cause
// (from tblCause, NULL where none is kept), under the name tblLog.
QString rowsWithCause(db::Database& log);
// The cause kept for log row `id`; empty when there is none (or no table).
QString causeOf(db::Database& log, qint64 id);

// Deletes VTSLog.old (any letter case) from `dir` when there is one; every
// error (file absent, in use, not removable) is ignored.
void removeOldCopy(const QString& dir);

}  // namespace vts::logstore
