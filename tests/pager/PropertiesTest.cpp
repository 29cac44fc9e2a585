#include "PagerFixture.h"
#include "PagerProperties.h"
#include "PropertyPage.h"

#include <QSignalSpy>

using namespace vts;
using namespace vts::test;

namespace {

struct RangeCase {
    const char* name;
    void (PagerOCX::*set)(qint32);
    qint32 (PagerOCX::*get)() const;
    qint32 lowest, highest;
    const char* rejection;
};

const RangeCase kRanges[] = {
    {"NumberOfRetries", &PagerOCX::setNumberOfRetries, &PagerOCX::NumberOfRetries, 0, 100,
     "The NumberOfRetries property must be between 0 and 100 seconds"},
    {"RetryDelay", &PagerOCX::setRetryDelay, &PagerOCX::RetryDelay, 0, 300,
     "The RetryDelay property must be between 0 and 300 seconds"},
    {"Timeout", &PagerOCX::setTimeout, &PagerOCX::Timeout, 0, 300,
     "The Timeout property must be between 0 and 300 seconds"},
    {"DebugMode", &PagerOCX::setDebugMode, &PagerOCX::DebugMode, 0, 1,
     "The Debug property must be 0 (off) or 1 (on)"},
    {"DialingDelay", &PagerOCX::setDialingDelay, &PagerOCX::DialingDelay, 0, 60,
     "The DialingDelay property must be between 0 and 60 seconds"},
    {"WindowState", &PagerOCX::setWindowState, &PagerOCX::WindowState, 0, 2,
     "The WindowState property must be between 0 and 2"},
    {"VolumeLevel", &PagerOCX::setVolumeLevel, &PagerOCX::VolumeLevel, 0, 3,
     "The VolumeLevel property must be between 0 and 3"},
    {"SpeakerState", &PagerOCX::setSpeakerState, &PagerOCX::SpeakerState, 0, 2,
     "The SpeakerState property must be between 0 and 2"},
    {"GroupTimeWindow", &PagerOCX::setGroupTimeWindow, &PagerOCX::GroupTimeWindow, 0, 3600,
     "The GroupTimeWindow property must be between 0 and 3600 seconds"},
};

}  // namespace

class PropertiesTest : public PagerTest {};

TEST_F(PropertiesTest, EachPropertyKeepsItsBoundsAndRejectsJustOutside) {
    makePager(false);
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(c.name);
        QSignalSpy changed(pager.get(), &PagerOCX::propertyChanged);
        dialogs.clear();
        (pager.get()->*c.set)(c.highest);
        EXPECT_EQ((pager.get()->*c.get)(), c.highest);
        (pager.get()->*c.set)(c.lowest);
        EXPECT_EQ((pager.get()->*c.get)(), c.lowest);
        EXPECT_TRUE(dialogs.shown().empty());
        ASSERT_EQ(changed.count(), 2);
        EXPECT_EQ(changed.at(0).at(0).toString(), QString::fromLatin1(c.name));

        // Compared while still 32 bits wide: 65536 + lowest must not wrap into range.
        for (qint32 bad : {c.highest + 1, c.lowest - 1, 65536 + c.lowest, INT32_MIN}) {
            (pager.get()->*c.set)(bad);
            EXPECT_EQ((pager.get()->*c.get)(), c.lowest) << bad;
        }
        ASSERT_EQ(dialogs.shown().size(), 4u);
        for (const auto& box : dialogs.shown()) {
            EXPECT_EQ(box.text, QString::fromLatin1(c.rejection));
            EXPECT_TRUE(box.title.isEmpty());  // the host's default title
            EXPECT_EQ(box.icon, Dialogs::Icon::None);
            EXPECT_EQ(box.buttons, Dialogs::Buttons::Ok);
        }
        EXPECT_EQ(changed.count(), 2);
    }
}

TEST_F(PropertiesTest, ReadOnlyPropertiesRefuseEveryWrite) {
    makePager();
    pager->AddComPort(1);
    send("1");
    pager->setQueueCount(0);
    pager->setSubmitStatus(3);
    EXPECT_EQ(pager->QueueCount(), 1);
    EXPECT_EQ(pager->SubmitStatus(), 0);
    EXPECT_EQ(dialogs.texts(), QStringList({"The QueueCount property is read only",
                                            "The SubmitState property is read only"}));
}

TEST_F(PropertiesTest, NewInstanceAndReadDefaultsDiffer) {
    makePager(false);
    auto p = pager->properties();
    EXPECT_EQ(p.NumberOfRetries, 0);
    EXPECT_EQ(p.RetryDelay, 60);
    EXPECT_EQ(p.Timeout, 60);
    EXPECT_EQ(p.DebugMode, 0);
    EXPECT_EQ(p.DialingDelay, 2);
    EXPECT_EQ(p.WindowState, 0);
    EXPECT_EQ(p.VolumeLevel, 2);
    EXPECT_EQ(p.SpeakerState, 1);
    EXPECT_EQ(p.GroupTimeWindow, 5);

    pager->ReadProperties(PropertyBag{});
    p = pager->properties();
    EXPECT_EQ(p.NumberOfRetries, 5);
    EXPECT_EQ(p.RetryDelay, 0);
    EXPECT_EQ(p.Timeout, 60);
    EXPECT_EQ(p.DebugMode, 0);
    EXPECT_EQ(p.DialingDelay, 2);
    EXPECT_EQ(p.WindowState, 1);
    EXPECT_EQ(p.VolumeLevel, 1);
    EXPECT_EQ(p.SpeakerState, 1);
    EXPECT_EQ(p.GroupTimeWindow, 10);

    pager->InitProperties();
    EXPECT_EQ(pager->NumberOfRetries(), 0);
}

TEST_F(PropertiesTest, SavedValuesLoadUncheckedAndSaveInOrder) {
    makePager(false);
    pager->ReadProperties(PropertyBag{
        {"Timeout", 500}, {"GroupTimeWindow", 7200}, {"DebugMode", 7}, {"VolumeLevel", 70000}});
    EXPECT_EQ(pager->Timeout(), 500);
    EXPECT_EQ(pager->GroupTimeWindow(), 7200);
    EXPECT_EQ(pager->DebugMode(), 7);
    EXPECT_EQ(pager->VolumeLevel(), 1);  // cannot be held in 16 bits: read default
    EXPECT_EQ(pager->NumberOfRetries(), 5);
    EXPECT_TRUE(dialogs.shown().empty());

    PropertyBag saved;
    pager->WriteProperties(saved);
    EXPECT_EQ(saved.names(),
              QStringList({"NumberOfRetries", "RetryDelay", "Timeout", "DebugMode", "DialingDelay",
                           "WindowState", "VolumeLevel", "SpeakerState", "GroupTimeWindow"}));
    EXPECT_EQ(saved.read("Timeout"), 500);

    // A round trip through the bag gives the same control state.
    PagerOCX other(loop, dialogs, launcher, dir());
    other.ReadProperties(saved);
    PropertyBag again;
    other.WriteProperties(again);
    EXPECT_EQ(again, saved);
}

TEST_F(PropertiesTest, CreationDeletesEveryPortFileAndStartsEmpty) {
    for (const char* name :
         {"mordax1.dat", "MORDAX3.DAT", "mordax8.dat", "mordax9.dat", "other.dat"})
        writeFile(QString::fromLatin1(name), "x");
    makePager(false);
    EXPECT_FALSE(QFile::exists(path("mordax1.dat")));
    EXPECT_FALSE(QFile::exists(path("MORDAX3.DAT")));
    EXPECT_FALSE(QFile::exists(path("mordax8.dat")));
    EXPECT_TRUE(QFile::exists(path("mordax9.dat")));
    EXPECT_TRUE(QFile::exists(path("other.dat")));
    EXPECT_EQ(pager->QueueCount(), 0);
    EXPECT_EQ(pager->NumPorts(), 0);
    EXPECT_EQ(pager->SubmitStatus(), 0);
    EXPECT_EQ(pager->systemDirectory(), sysDir);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST(PropertyTextTest, ConvertsLikeAnAssignmentToA32BitProperty) {
    struct Case {
        const char* text;
        std::optional<qint32> value;
        const char* error;
    } const cases[] = {
        {"42", 42, ""},
        {"  7 ", 7, ""},
        {"-3", -3, ""},
        {"+5", 5, ""},
        {"2.5", 2, ""},
        {"3.5", 4, ""},
        {"1e3", 1000, ""},
        {".5", 0, ""},
        {"", std::nullopt, "Type mismatch"},
        {"abc", std::nullopt, "Type mismatch"},
        {"12abc", std::nullopt, "Type mismatch"},
        {"1 2", std::nullopt, "Type mismatch"},
        {"2147483647", 2147483647, ""},
        {"2147483648", std::nullopt, "Overflow"},
        {"1e400", std::nullopt, "Overflow"},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_EQ(pagerprops::parseText(QString::fromLatin1(c.text), &error), c.value) << c.text;
        EXPECT_EQ(error, QString::fromLatin1(c.error)) << c.text;
    }
}

TEST_F(PropertiesTest, PageAppliesInItsOrderPastRejectionsButStopsAtBadText) {
    makePager(false);
    EXPECT_EQ(pagerprops::pageTexts(*pager),
              QStringList({"5", "1", "2", "0", "2", "0", "60", "60", "0"}));

    // The rejected GroupTimeWindow does not keep the later boxes from applying.
    auto r =
        pagerprops::applyPageTexts(*pager, {"9999", "2", "3", "1", "4", "1", "120", "30", "3"});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(pager->GroupTimeWindow(), 5);
    EXPECT_EQ(pager->Timeout(), 120);
    EXPECT_EQ(pager->NumberOfRetries(), 3);
    EXPECT_EQ(dialogs.texts(),
              QStringList({"The GroupTimeWindow property must be between 0 and 3600 seconds"}));

    r = pagerprops::applyPageTexts(*pager, {"10", "0", "x", "2", "9", "0", "9", "9", "9"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.stoppedAt, 2);
    EXPECT_EQ(r.error, "Type mismatch");
    EXPECT_EQ(pager->GroupTimeWindow(), 10);
    EXPECT_EQ(pager->SpeakerState(), 0);
    EXPECT_EQ(pager->VolumeLevel(), 3);  // untouched from here on
    EXPECT_EQ(pager->NumberOfRetries(), 3);
}

TEST_F(PropertiesTest, WithoutTheWidgetLibraryShowAboutIsAMessageBox) {
    makePager(false);
    pager->ShowAbout();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.contains("Adding Paging Capabilities To Your Application"));
}
