#include "ConfigTestSupport.h"
#include "frmBrowseForQueue.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace vts;
using test::child;
using test::onModal;

namespace {

class BrowseForQueue : public test::ConfigWindowTest {
protected:
    // The main window with an unsaved queue location the picker may replace.
    std::unique_ptr<frmMain> open() {
        auto w = openMain();
        w->MessageQueueLocation_c()->setText("before");
        return w;
    }
    QString cwd() const { return QDir::currentPath(); }
};

TEST_F(BrowseForQueue, OkAtOnceReturnsTheCurrentFolder) {
    auto w = open();
    onModal([this](QWidget* d) {
        EXPECT_EQ(child<QLabel>(d, "Filename")->text(), cwd());
        child<QPushButton>(d, "Command2")->click();
    });
    w->Command1_Click();
    EXPECT_EQ(w->MessageQueueLocation_c()->text(), cwd());
    EXPECT_EQ(config("MessageQueueLocation").toString(), path("queue"));  // not saved yet
}

TEST_F(BrowseForQueue, CancelAndTitleBarCloseLeaveTheLocation) {
    auto w = open();
    onModal([](QWidget* d) { child<QPushButton>(d, "Command1")->click(); });
    w->Command1_Click();
    EXPECT_EQ(w->MessageQueueLocation_c()->text(), "before");
    onModal([](QWidget* d) { d->close(); });
    w->Command1_Click();
    EXPECT_EQ(w->MessageQueueLocation_c()->text(), "before");
}

TEST_F(BrowseForQueue, OpeningAFolderAndOkGivesItsFullPath) {
    QDir().mkpath(path("Queue Root/inner"));
    auto w = open();
    onModal([this](QWidget* d) {
        auto* dir1 = child<QListWidget>(d, "Dir1");
        QListWidgetItem* target = nullptr;
        for (int i = 0; i < dir1->count(); ++i)
            if (dir1->item(i)->text().trimmed() == "Queue Root") target = dir1->item(i);
        ASSERT_NE(target, nullptr);
        emit dir1->itemActivated(target);
        EXPECT_EQ(child<QLabel>(d, "Filename")->text(), QDir(path("Queue Root")).absolutePath());
        child<QPushButton>(d, "Command2")->click();
    });
    w->Command1_Click();
    EXPECT_EQ(w->MessageQueueLocation_c()->text(), QDir(path("Queue Root")).absolutePath());
}

TEST_F(BrowseForQueue, AnUnreadablePlaceShowsTheSystemTextAndStaysUsable) {
    frmBrowseForQueue picker(context);
    const QString start = picker.path();
    EXPECT_FALSE(picker.openFolder(path("vanished")));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "No such file or directory");
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
    EXPECT_EQ(dialogs.shown()[0].title, "");
    EXPECT_EQ(picker.path(), start);
    EXPECT_EQ(picker.Filename()->text(), start);
    // The drive list starts at the root and a drive change updates the label.
    EXPECT_EQ(picker.Drive1()->itemText(0), "/");
    picker.Drive1()->setCurrentIndex(0);
    picker.Drive1_Change(0);
    EXPECT_EQ(picker.Filename()->text(), "/");
    EXPECT_EQ(picker.path(), "/");
}

}  // namespace
