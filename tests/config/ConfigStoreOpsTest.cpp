#include "ClientList.h"
#include "ConfigSettings.h"
#include "ConfigTestSupport.h"
#include "LoginSettings.h"
#include "ModemList.h"

using namespace vts;

namespace {

class StoreOps : public test::ConfigStoreTest {};

TEST_F(StoreOps, SettingsRoundTripEveryField) {
    settings::Values v = settings::load(dir());
    ASSERT_EQ(v.size(), static_cast<qsizetype>(settings::fields().size()));
    v["CheckTime"] = 7;
    v["NumberOfRetries"] = 10;
    v["AlertPIN"] = " 12345 ";
    v["ALertByEMail"] = true;
    v["VisualAlert"] = false;
    v["PMFExpireDays"] = "30";
    EXPECT_TRUE(settings::save(dir(), v).isEmpty());
    EXPECT_EQ(config("CheckTime").toInt(), 7);
    EXPECT_EQ(config("AlertPIN").toString(), " 12345 ");  // texts are stored untrimmed
    EXPECT_NE(config("ALertByEMail").toInt(), 0);
    EXPECT_EQ(config("VisualAlert").toInt(), 0);
    const settings::Values back = settings::load(dir());
    EXPECT_EQ(back, v);
}

TEST_F(StoreOps, FlagsTrueFalseAndNull) {
    setConfig("AudioAlert", -1);
    setConfig("PageFailAlert", 0);
    setConfig("ModemFailAlert", QVariant());
    const settings::Values v = settings::load(dir());
    EXPECT_TRUE(v["AudioAlert"].toBool());
    EXPECT_FALSE(v["PageFailAlert"].toBool());
    EXPECT_FALSE(v["ModemFailAlert"].toBool());
    settings::save(dir(), v);
    EXPECT_EQ(config("ModemFailAlert").toInt(), 0);
    EXPECT_FALSE(config("ModemFailAlert").isNull());
}

TEST_F(StoreOps, NullTextReadsEmptyAndIsSavedAsEmpty) {
    setConfig("AlertSMTPServer", QVariant());
    settings::Values v = settings::load(dir());
    EXPECT_EQ(v["AlertSMTPServer"].toString(), "");
    settings::save(dir(), v);
    EXPECT_EQ(config("AlertSMTPServer").toString(), "");
    EXPECT_FALSE(config("AlertSMTPServer").isNull());
}

TEST_F(StoreOps, ExpireDaysBlankNumberOrRefused) {
    settings::Values v = settings::load(dir());
    v["PMFExpireDays"] = " ";
    EXPECT_TRUE(settings::save(dir(), v).isEmpty());
    EXPECT_TRUE(config("PMFExpireDays").isNull());
    v["PMFExpireDays"] = " 14 ";
    settings::save(dir(), v);
    EXPECT_EQ(config("PMFExpireDays").toInt(), 14);
    v["PMFExpireDays"] = "ten";
    v["CheckTime"] = 3;
    EXPECT_EQ(settings::save(dir(), v), QStringList({"PMFExpireDays"}));
    EXPECT_EQ(config("PMFExpireDays").toInt(), 14);
    EXPECT_EQ(config("CheckTime").toInt(), 3);  // the other fields are still saved
}

TEST_F(StoreOps, ModemPortsStoredAsTyped) {
    struct Case {
        const char* typed;
        modems::AddResult result;
    };
    const Case cases[] = {
        {"32", modems::AddResult::Added},     {"33", modems::AddResult::OutOfRange},
        {"0", modems::AddResult::OutOfRange}, {"-1", modems::AddResult::OutOfRange},
        {"", modems::AddResult::OutOfRange},  {"5", modems::AddResult::Added},
        {"5", modems::AddResult::Duplicate},  {"05", modems::AddResult::Added},
        {"3x", modems::AddResult::Added},     {"1.5", modems::AddResult::Added},
        {" 7 ", modems::AddResult::Added},    {"7", modems::AddResult::Duplicate}};
    for (const auto& c : cases) EXPECT_EQ(modems::add(dir(), c.typed), c.result) << c.typed;
    EXPECT_EQ(modems::load(dir()),
              QStringList({"COM32", "COM5", "COM05", "COM3x", "COM1.5", "COM7"}));
}

TEST_F(StoreOps, RemovingAModemDeletesExactlyThatRow) {
    for (const char* p : {"COM1", "COM3", "COM4"}) addModemRow(p);
    EXPECT_TRUE(modems::remove(dir(), "COM3"));
    EXPECT_FALSE(modems::remove(dir(), "COM3"));
    EXPECT_EQ(modems::load(dir()), QStringList({"COM1", "COM4"}));
}

TEST_F(StoreOps, ClientNamesAreUniqueUpperCasedAndMayHoldApostrophes) {
    EXPECT_EQ(clients::add(dir(), {"  smith ", " /srv/a/vt.mdb ", " pc1 "}),
              clients::AddResult::Added);
    EXPECT_EQ(clients::add(dir(), {"Smith", "/other", ""}), clients::AddResult::Duplicate);
    EXPECT_EQ(clients::add(dir(), {"o'brien", "/b", ""}), clients::AddResult::Added);
    EXPECT_EQ(clients::add(dir(), {"O'Brien", "/c", ""}), clients::AddResult::Duplicate);
    const auto list = clients::load(dir());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "SMITH");
    EXPECT_EQ(list[1].name, "O'BRIEN");
    const auto smith = clients::find(dir(), list[0].id);
    ASSERT_TRUE(smith);
    EXPECT_EQ(smith->path, "/SRV/A/VT.MDB");
    EXPECT_EQ(smith->computerName, "PC1");
}

TEST_F(StoreOps, ClientEditAndRemoveGoByIdAndReportMissingRows) {
    const qint64 id = addClientRow("JONES", "/x", QVariant());
    auto jones = clients::find(dir(), id);
    ASSERT_TRUE(jones);
    EXPECT_EQ(jones->computerName, "");
    EXPECT_TRUE(clients::update(dir(), id, {" jones2 ", "/y/ ", "pc"}));
    EXPECT_EQ(clients::find(dir(), id)->name, "JONES2");
    EXPECT_TRUE(clients::remove(dir(), id));
    EXPECT_FALSE(clients::remove(dir(), id));
    EXPECT_FALSE(clients::update(dir(), id, {"a", "b", "c"}));
    EXPECT_FALSE(clients::find(dir(), id));
}

TEST_F(StoreOps, LoginFieldsReadAndWritten) {
    setConfig("EnableLoginPassword", QVariant());
    setConfig("SystemPassword", QVariant());
    setConfig("AutoLogoutMinutes", QVariant());
    login::Row row = login::read(dir());
    EXPECT_TRUE(login::loginRequired(row));
    EXPECT_EQ(row.password, "");
    EXPECT_EQ(row.idleMinutes, "");
    login::write(dir(), " 15 ", true);
    row = login::read(dir());
    EXPECT_EQ(row.idleMinutes, "15");
    EXPECT_TRUE(login::enabledBox(row));
    login::write(dir(), "", false);
    EXPECT_TRUE(config("AutoLogoutMinutes").isNull());
    EXPECT_EQ(config("EnableLoginPassword").toInt(), 0);
}

}  // namespace
