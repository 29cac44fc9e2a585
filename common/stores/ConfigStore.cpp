#include "ConfigStore.h"

#include "Dialogs.h"
#include "Paths.h"

#include <QFile>

namespace vts::configstore {

using db::FieldDef;
using db::FieldType;
using db::IndexDef;
using db::TableDef;

namespace {

FieldDef choice(const char* name) {
    return {QString::fromLatin1(name), FieldType::Integer, 0, false, true};
}
FieldDef flag(const char* name) {
    return {QString::fromLatin1(name), FieldType::YesNo, 0, false, true};
}
FieldDef text(const char* name, int size) {
    return {QString::fromLatin1(name), FieldType::Text, size, false, true};
}
FieldDef number(const char* name) {
    return {QString::fromLatin1(name), FieldType::Long, 0, false, true};
}

}  // namespace

bool present(const QString& dir) { return !paths::listFiles(dir, kFileName).isEmpty(); }

void showMissing(Dialogs& dialogs) {
    dialogs.show(kMissingText, kMissingTitle, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
}

std::unique_ptr<db::Database> open(const QString& dir) {
    return db::Database::open(dir, kFileName);
}

TableDef configTable() {
    TableDef t;
    t.name = QStringLiteral("tblConfig");
    t.fields = {
        choice("CheckTime"),
        choice("DialingDelay"),
        choice("DelayBeforeRetries"),
        choice("NumberOfRetries"),
        text("SystemPassword", 50),
        text("MessageQueueLocation", 255),
        flag("AlertByPage"),
        text("AlertPIN", 50),
        text("AlertAlphaPhoneNumber", 50),
        flag("ALertByEMail"),
        text("AlertEMailAddress", 255),
        text("AlertSMTPServer", 255),
        text("AlertPagePassword", 50),
        text("AlertPagerEMailAddress", 255),
        flag("VisualAlert"),
        flag("AudioAlert"),
        choice("AtIntervalsTime"),
        choice("Speaker"),
        choice("TimeOut"),
        flag("PageFailAlert"),
        flag("ModemFailAlert"),
        number("PMFExpireDays"),
        flag("EnableLoginPassword"),
        number("AutoLogoutMinutes"),
    };
    return t;
}

TableDef modemsTable() {
    TableDef t;
    t.name = QStringLiteral("tblModems");
    t.fields = {text("ComPort", 50)};
    return t;
}

TableDef clientsTable() {
    TableDef t;
    t.name = QStringLiteral("tblClients");
    t.fields = {
        {QStringLiteral("ID"), FieldType::Long, 0, true, true},
        text("Name", 50),
        text("Path", 255),
        text("ComputerName", 50),
    };
    t.indexes = {
        {QStringLiteral("ID"), QStringLiteral("ID"), true, true, true},
        {QStringLiteral("Name"), QStringLiteral("Name"), false, false, false},
        {QStringLiteral("ComputerName"), QStringLiteral("ComputerName"), false, false, false},
    };
    return t;
}

void createNew(const QString& path, const QString& queueFolder) {
    auto db = db::Database::create(path);
    const QString file = db->filePath();
    try {
        db->createTable(configTable());
        db->createTable(modemsTable());
        db->createTable(clientsTable());
        auto rs = db->openTable(QStringLiteral("tblConfig"));
        rs->addNew();
        // First-run settings: scan continuously, 3 retries, files kept 30
        // days, no alerts, no login password. Texts hold the empty text,
        // never null.
        const QString none = QStringLiteral("");
        const std::pair<const char*, QVariant> defaults[] = {
            {"CheckTime", 0},
            {"DialingDelay", 0},
            {"DelayBeforeRetries", 0},
            {"NumberOfRetries", 3},
            {"SystemPassword", none},
            {"MessageQueueLocation", queueFolder},
            {"AlertByPage", false},
            {"AlertPIN", none},
            {"AlertAlphaPhoneNumber", none},
            {"ALertByEMail", false},
            {"AlertEMailAddress", none},
            {"AlertSMTPServer", none},
            {"AlertPagePassword", none},
            {"AlertPagerEMailAddress", none},
            {"VisualAlert", false},
            {"AudioAlert", false},
            {"AtIntervalsTime", 0},
            {"Speaker", 0},
            {"TimeOut", 3},
            {"PageFailAlert", false},
            {"ModemFailAlert", false},
            {"PMFExpireDays", 30},
            {"EnableLoginPassword", false},
            {"AutoLogoutMinutes", 0},
        };
        for (const auto& [name, value] : defaults) rs->setValue(QString::fromLatin1(name), value);
        rs->update();
    } catch (...) {
        // No half-made store is left behind.
        db->close();
        for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(file + QLatin1String(suffix));
        throw;
    }
}

}  // namespace vts::configstore
