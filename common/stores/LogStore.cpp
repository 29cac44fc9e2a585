#include "LogStore.h"

#include "Paths.h"

#include <QFile>

namespace vts::logstore {

using db::FieldDef;
using db::FieldType;
using db::TableDef;

namespace {

FieldDef text(const char* name, int size) {
    return {QString::fromLatin1(name), FieldType::Text, size, false, true};
}
FieldDef field(const char* name, FieldType type) {
    return {QString::fromLatin1(name), type, 0, false, true};
}

}  // namespace

bool present(const QString& dir) { return !paths::listFiles(dir, kFileName).isEmpty(); }

TableDef logTable() {
    TableDef t;
    t.name = QStringLiteral("tblLog");
    t.fields = {
        {QStringLiteral("ID"), FieldType::Long, 0, true, true},
        field("Status", FieldType::Long),
        text("StatusDescription", kStatusDescriptionWidth),
        text("Type", kTypeWidth),
        text("Sender", kSenderWidth),
        text("Department", kDepartmentWidth),
        text("Recipient", kRecipientWidth),
        field("SentTime", FieldType::DateTime),
        text("TAPPhoneNumber", kPhoneWidth),
        text("TAPPIN", kPinWidth),
        text("TAPPassword", kPasswordWidth),
        field("MaximumCharacters", FieldType::Long),
        text("COMPortSetting", kComPortSettingWidth),
        text("ModemInitString", kModemStringWidth),
        text("ModemDialString", kModemStringWidth),
        text("EMailAddress", kEMailWidth),
        text("SMTPServer", kSmtpWidth),
        field("ReverseOrder", FieldType::YesNo),
        text("UniqueID", kUniqueIdWidth),
        field("Message", FieldType::Memo),
    };
    t.indexes = {
        {QStringLiteral("ID"), QStringLiteral("ID"), true, true, true},
        {QStringLiteral("Status"), QStringLiteral("Status"), false, true, false},
    };
    return t;
}

TableDef reportInfoTable() {
    TableDef t;
    t.name = QStringLiteral("tblReportInfo");
    t.fields = {text("ReportTitle", 255), text("FilterTitle", 255)};
    return t;
}

void createCauseTable(db::Database& log) {
    log.execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblCause (ID INTEGER PRIMARY KEY, Cause TEXT NOT NULL)"));
}

void writeCause(db::Database& log, qint64 id, const QString& cause) {
    if (!log.hasTable(kCauseTable)) createCauseTable(log);
    log.execute(QStringLiteral("INSERT OR REPLACE INTO tblCause (ID, Cause) VALUES (?, ?)"),
                {id, cause.left(kCauseWidth)});
}

void writeGatewayUser(db::Database& log, const QString& file, const QString& user) {
    log.execute(
        QStringLiteral("CREATE TABLE IF NOT EXISTS tblGatewayUser (UniqueID TEXT PRIMARY "
                       "KEY, User TEXT NOT NULL, At TEXT NOT NULL DEFAULT "
                       "(datetime('now')))"));
    log.execute(
        QStringLiteral("INSERT OR REPLACE INTO tblGatewayUser (UniqueID, User) VALUES (?, ?)"),
        {file, user.left(64)});
}

QString gatewayUserOf(db::Database& log, const QString& file) {
    if (file.isEmpty() || !log.hasTable(kGatewayUserTable)) return {};
    auto rs =
        log.openQuery(QStringLiteral("SELECT User FROM tblGatewayUser WHERE UniqueID = ?"), {file});
    return rs->eof() ? QString() : rs->text(QStringLiteral("User"));
}

QString rowsWithCause(db::Database& log) {
    if (log.hasTable(kCauseTable)) {
        return QStringLiteral(
            "(SELECT tblLog.*, tblCause.Cause AS Cause FROM tblLog "
            "LEFT JOIN tblCause ON tblCause.ID = tblLog.ID) AS tblLog");
    }
    return QStringLiteral("(SELECT tblLog.*, NULL AS Cause FROM tblLog) AS tblLog");
}

QString causeOf(db::Database& log, qint64 id) {
    if (!log.hasTable(kCauseTable)) return {};
    auto rs = log.openQuery(QStringLiteral("SELECT Cause FROM tblCause WHERE ID = ?"), {id});
    return rs->eof() ? QString() : rs->text(QStringLiteral("Cause"));
}

void create(const QString& dir) {
    auto db = db::Database::create(paths::resolve(kCreateName, dir));
    const QString file = db->filePath();
    try {
        db->createTable(logTable());
        db->createTable(reportInfoTable());
        db->close();
    } catch (...) {
        db->close();
        for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(file + QLatin1String(suffix));
        throw;
    }
}

std::unique_ptr<db::Database> open(const QString& dir) {
    return db::Database::open(dir, kFileName);
}

void removeOldCopy(const QString& dir) {
    for (const QString& name : paths::listFiles(dir, kOldName))
        QFile::remove(paths::resolve(name, dir));
}

}  // namespace vts::logstore
