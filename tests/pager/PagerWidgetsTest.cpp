#include "Dialogs.h"
#include "Launcher.h"
#include "MordaxProperties.h"
#include "PagerFace.h"
#include "PagerOCX.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"
#include "frmAbout.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vts;

class PagerWidgetsTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        pager = std::make_unique<PagerOCX>(loop, dialogs, launcher, dir());
        pager->InitProperties();
    }
    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    std::unique_ptr<PagerOCX> pager;
};

TEST_F(PagerWidgetsTest, TheFaceIsAlwaysTheSizeOfItsButton) {
    QWidget host;
    PagerFace face(pager.get(), &host);
    EXPECT_EQ(face.button()->text(), "Mordax");
    const QSize button = face.button()->size();
    face.resize(400, 300);
    EXPECT_EQ(face.size(), button);
    face.resize(5, 5);
    EXPECT_EQ(face.size(), button);
    QSignalSpy none(pager.get(), &PagerOCX::MessageSent);
    QTest::mouseClick(face.button(), Qt::LeftButton);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(PagerWidgetsTest, PropertyPageFillsEditsAndAppliesThroughTheSetters) {
    MordaxProperties page;
    page.setSelectedControls({pager.get()});
    EXPECT_EQ(page.textBox("GroupTimeWindow")->text(), "5");
    EXPECT_EQ(page.textBox("RetryDelay")->text(), "60");
    EXPECT_FALSE(page.changed());
    const auto labels = page.findChildren<QLabel*>();
    QStringList texts;
    for (auto* l : labels) texts << l->text();
    EXPECT_EQ(texts,
              QStringList({"GroupTimeWindow (seconds):", "SpeakerState:", "VolumeLevel:",
                           "WindowState:", "DialingDelay (seconds):", "DebugMode:",
                           "Timeout (seconds):", "RetryDelay (seconds):", "NumberOfRetries:"}));

    page.textBox("GroupTimeWindow")->clear();
    QTest::keyClicks(page.textBox("GroupTimeWindow"), "4000");
    EXPECT_TRUE(page.changed());
    page.textBox("Timeout")->setText("90");
    EXPECT_TRUE(page.applyChanges());
    EXPECT_EQ(pager->GroupTimeWindow(), 5);
    EXPECT_EQ(pager->Timeout(), 90);
    EXPECT_EQ(dialogs.texts(),
              QStringList({"The GroupTimeWindow property must be between 0 and 3600 seconds"}));
    EXPECT_FALSE(page.changed());

    QSignalSpy errors(&page, &MordaxProperties::applyError);
    page.textBox("DialingDelay")->setText("soon");
    page.textBox("Timeout")->setText("30");
    EXPECT_FALSE(page.applyChanges());
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toString(), "Type mismatch");
    EXPECT_EQ(pager->Timeout(), 90);
}

TEST_F(PagerWidgetsTest, ShowAboutShowsTheAboutBoxUntilClose) {
    QString product, line;
    bool closed = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (auto* l : box->findChildren<QLabel*>()) {
            if (l->objectName() == "lblProduct") product = l->text();
            if (l->objectName() == "lblDescription") line = l->text();
        }
        QTest::mouseClick(box->closeButton(), Qt::LeftButton);
        closed = true;
    });
    pager->ShowAbout();
    EXPECT_TRUE(closed);
    EXPECT_EQ(product, "Mordax");
    EXPECT_EQ(line, "Adding Paging Capabilities To Your Application");
    EXPECT_TRUE(dialogs.shown().empty());
}
