#include "ConfigTestSupport.h"
#include "ReportLayout.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "ReportsPageActions.h"
#include "frmMain.h"

#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// The Reports page of the real main window with the real actions behind it.
class ReportsPageActionsTest : public vts::test::ConfigStoreTest {
protected:
    void SetUp() override {
        ConfigStoreTest::SetUp();
        vts::report::installDefaultLayouts(dir());
        vts::test::reports::createLog(
            dir(), {{2, "SMITH", "IT", "R1", "1998-07-01 10:00:00", "", "one"},
                    {1, "ADAMS", "SALES", "R2", "1998-07-02 10:00:00", "", "two"}});
        w = std::make_unique<frmMain>(context);
        ASSERT_TRUE(w->Form_Load());
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
    vts::test::onModal([](QWidget* picker) {
        auto* list = picker->findChild<QListWidget*>(QStringLiteral("SenderList_c"));
        ASSERT_NE(list, nullptr);
        list->setCurrentRow(1);  // ADAMS, SMITH
        picker->findChild<QPushButton*>(QStringLiteral("Select_c"))->click();
    });
    w->SelectSender_c()->click();
    EXPECT_EQ(w->Sender_c()->text(), QStringLiteral("SMITH"));

    vts::test::onModal([](QWidget* picker) {
        auto* list = picker->findChild<QListWidget*>(QStringLiteral("DepartmentList_c"));
        ASSERT_NE(list, nullptr);
        list->setCurrentRow(0);
        picker->findChild<QPushButton*>(QStringLiteral("Select_c"))->click();
    });
    w->cmdSelectDepartment()->click();
    EXPECT_EQ(w->Department_c()->text(), QStringLiteral("IT"));
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

}  // namespace
