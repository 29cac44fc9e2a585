#include "ConfigProgram.h"
#include "ConfigTestSupport.h"
#include "ReportLayout.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "ReportsPageActions.h"

#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// The Reports page of the real main window with the real actions behind it.
class ReportsPageActionsTest : public vts::test::ConfigWindowTest {
protected:
    void SetUp() override {
        ConfigWindowTest::SetUp();
        vts::report::installDefaultLayouts(dir());
        vts::test::reports::createLog(
            dir(), {{2, "SMITH", "IT", "R1", "1998-07-01 10:00:00", "", "one"},
                    {1, "ADAMS", "SALES", "R2", "1998-07-02 10:00:00", "", "two"}});
        w = openMain();
        ASSERT_FALSE(HasFailure());
        w->setReportsActions(vts::createReportsPageActions(*w));
    }
    std::unique_ptr<frmMain> w;
};

TEST_F(ReportsPageActionsTest, ViewShowsTheReportOfThePageCriteria) {
    w->Sender_c()->setText(QStringLiteral("SMI"));
    w->print_c(0)->click();
    ASSERT_TRUE(dialogs.shown().empty()) << dialogs.texts().join('\n').toStdString();
    vts::report::ReportPreview* preview = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<vts::report::ReportPreview*>(top); p && p->isVisible())
            preview = p;
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("Vantrel Report"));
    preview->close();
}

TEST_F(ReportsPageActionsTest, PickersFillThePageTextBoxes) {
    struct Case {
        const char* list;
        int row;
        QPushButton* button;
        QLineEdit* box;
        const char* chosen;
    };
    const Case cases[] = {
        {"SenderList_c", 1, w->SelectSender_c(), w->Sender_c(), "SMITH"},  // ADAMS, SMITH
        {"DepartmentList_c", 0, w->cmdSelectDepartment(), w->Department_c(), "IT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        vts::test::onModal([&c](QWidget* picker) {
            auto* list = picker->findChild<QListWidget*>(QString::fromLatin1(c.list));
            ASSERT_NE(list, nullptr);
            list->setCurrentRow(c.row);
            picker->findChild<QPushButton*>(QStringLiteral("Select_c"))->click();
        });
        c.button->click();
        EXPECT_EQ(c.box->text(), QString::fromLatin1(c.chosen));
    }
}

TEST_F(ReportsPageActionsTest, PurgeButtonOpensThePurgeDialog) {
    vts::test::onModal([](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Purge Database"));
        dialog->findChild<QLineEdit*>(QStringLiteral("Sender_c"))->setText(QStringLiteral("ADA"));
        dialog->findChild<QPushButton*>(QStringLiteral("Purge_c"))->click();
    });
    w->PurgeDatabase_c()->click();
    EXPECT_EQ(vts::test::reports::logIds(dir()), (QList<qint64>{1}));
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("Purging completed"));
}

// The window the program itself opens has the same actions, with nothing set
// by hand.
TEST_F(ReportsPageActionsTest, TheProgramsMainWindowComesWithTheActions) {
    setConfig("EnableLoginPassword", 0);
    vts::ConfigProgram program(context);
    ASSERT_TRUE(program.start());
    ASSERT_NE(program.main(), nullptr);
    QString shown;
    vts::test::onModal([&shown](QWidget* dialog) {
        shown = dialog->windowTitle();
        dialog->findChild<QPushButton*>(QStringLiteral("Cancel_c"))->click();
    });
    program.main()->PurgeDatabase_c()->click();
    EXPECT_EQ(shown, QStringLiteral("Purge Database"));
    EXPECT_EQ(vts::test::reports::logIds(dir()), (QList<qint64>{1, 2}));
    program.main()->hide();
}

}  // namespace
