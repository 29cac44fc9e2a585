#include "ConfigTestSupport.h"
#include "Dialogs.h"
#include "LogStore.h"
#include "QtReportHost.h"
#include "ReportLayout.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "ReportsPageController.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "WindowFit.h"
#include "frmPurgeDatabase.h"
#include "frmSelectSender.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

using namespace vts::report;
using vts::Dialogs;
using vts::test::reports::LogRow;

namespace {

class ReportUiTest : public vts::test::ConfigWindowTest {
protected:
    void SetUp() override {
        ConfigWindowTest::SetUp();
        installDefaultLayouts(dir());
        vts::test::reports::createLog(
            dir(), {
                       {1, "SMITH", "SALES", "R1", "1998-07-01 10:00:00", "", "one"},
                       {2, "ADAMS", "IT", "R2", "1998-07-02 10:00:00", "", "two"},
                       {2, "SMITH", "", "R3", "1998-07-03 10:00:00", "", "three"},
                       {3, "JONES", "IT", "R4", "1998-08-03 10:00:00", "", "four"},
                   });
    }
};

TEST_F(ReportUiTest, SenderPickerPutsTheChoiceWhereItsTagSays) {
    QLineEdit reports, purge;
    frmSelectSender picker(dir(), dialogs);
    picker.setReportsTarget(&reports);
    picker.setPurgeTarget(&purge);
    picker.load();
    QStringList entries;
    for (int i = 0; i < picker.list()->count(); ++i) entries << picker.list()->item(i)->text();
    EXPECT_EQ(entries, (QStringList{"ADAMS", "JONES", "SMITH"}));

    const std::vector<std::tuple<const char*, QString, QString>> cases = {
        {"FROMREPORTS", "JONES", ""}, {"FROMPURGE", "", "JONES"}, {"SOMETHING", "", ""}};
    for (const auto& [tag, inReports, inPurge] : cases) {
        reports.clear();
        purge.clear();
        picker.setTag(QString::fromUtf8(tag));
        picker.show();
        picker.list()->setCurrentRow(1);
        picker.Select_c_Click();
        EXPECT_FALSE(picker.isVisible()) << tag;
        EXPECT_EQ(reports.text(), inReports) << tag;
        EXPECT_EQ(purge.text(), inPurge) << tag;
    }
}

TEST_F(ReportUiTest, EmptyChoiceKeepsThePickerOpen) {
    {
        auto database = vts::logstore::open(dir());
        vts::test::reports::addRow(*database, {1, "", "", "", "1998-07-05 10:00:00", "", ""});
    }
    QLineEdit department;
    frmSelectDepartment picker(dir(), dialogs, &department);
    picker.show();
    ASSERT_EQ(picker.list()->count(), 3);  // "", IT, SALES
    EXPECT_EQ(picker.list()->item(0)->text(), QString());
    picker.list()->setCurrentRow(-1);
    picker.Select_c_Click();
    EXPECT_TRUE(picker.isVisible());
    picker.list()->setCurrentRow(0);
    picker.Select_c_Click();
    EXPECT_TRUE(picker.isVisible());
    picker.list()->setCurrentRow(2);
    picker.findChild<QPushButton*>(QStringLiteral("Select_c"))->click();
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(department.text(), QStringLiteral("SALES"));
    EXPECT_EQ(picker.windowTitle(), QStringLiteral("Select Department"));
}

TEST_F(ReportUiTest, PurgeDialogClosesAfterPurgingAndStaysOpenOtherwise) {
    frmPurgeDatabase dialog(dir(), dialogs, nullptr);
    dialog.show();
    dialog.SelectDate_c->setChecked(true);
    dialog.From_c->setDate(QDate(1998, 7, 3));
    dialog.To_c->setDate(QDate(1998, 7, 1));
    dialog.Sender_c->setText(QStringLiteral(" SMITH "));
    dialog.Purge_c->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lastOutcome(), PurgeLogic::Outcome::DateError);

    dialog.From_c->setDate(QDate(1998, 7, 1));
    dialog.To_c->setDate(QDate(1998, 7, 3));
    dialogs.queueAnswer(Dialogs::Answer::No);
    dialog.Purge_c->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Sender_c->text(), QStringLiteral(" SMITH "));

    dialog.Purge_c->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(vts::test::reports::logIds(dir()), (QList<qint64>{2, 4}));
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("Purging completed"));
}

// The Reports page's controls, filled as the main window fills them.
struct Page {
    QWidget window;
    QListWidget list;
    QComboBox type, sort, status;
    QCheckBox selectDate;
    QDateEdit from, to;
    QLineEdit sender, department;
    Page() {
        list.addItem(QStringLiteral("Message Log Report"));
        list.setCurrentRow(0);
        type.addItems(reportTypes());
        sort.addItems(sortEntries());
        status.addItems(statusEntries());
        from.setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
        to.setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
    }
    ReportsPageControls controls() {
        return {&window,     &list, &type, &sort,   &status,
                &selectDate, &from, &to,   &sender, &department};
    }
};

// Every desktop font and screen scale, each in a test of its own.
class ReportUiAtFont : public ReportUiTest,
                       public ::testing::WithParamInterface<vts::test::DesktopFont> {};

INSTANTIATE_TEST_SUITE_P(DesktopFonts, ReportUiAtFont,
                         ::testing::ValuesIn(vts::test::desktopFonts()),
                         [](const auto& info) { return info.param.name(); });

// The pickers, the purge dialog and the report window: no caption may be
// cut off.
TEST_P(ReportUiAtFont, EveryReportWindowShowsItsTextsWhole) {
    const vts::test::ScopedDesktopFont font(GetParam());
    QLineEdit department;
    frmSelectSender senders(dir(), dialogs);
    frmSelectDepartment departments(dir(), dialogs, &department);
    frmPurgeDatabase purge(dir(), dialogs, nullptr);
    Page page;
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.print_c_Click(0);
    ReportPreview* preview = controller.host().lastPreview();
    ASSERT_NE(preview, nullptr);
    for (QWidget* w : {static_cast<QWidget*>(&senders), static_cast<QWidget*>(&departments),
                       static_cast<QWidget*>(&purge), static_cast<QWidget*>(preview)}) {
        w->show();
        EXPECT_TRUE(vts::test::measuresText(w)) << "no usable font";
        const QStringList clipped = vts::test::clippedTexts(w);
        EXPECT_TRUE(clipped.isEmpty()) << w->metaObject()->className() << ": "
                                       << clipped.join(QLatin1Char('\n')).toStdString();
    }
    preview->close();
}

TEST_F(ReportUiTest, ViewOpensAPagedReportWindow) {
    {
        auto database = vts::logstore::open(dir());
        for (int i = 0; i < 120; ++i)
            vts::test::reports::addRow(*database, {1, "MANY", "", QStringLiteral("X%1").arg(i),
                                                   "1998-09-01 10:00:00", "", ""});
    }
    Page page;
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.print_c_Click(0);
    ASSERT_TRUE(dialogs.shown().empty()) << dialogs.texts().join(QLatin1Char('\n')).toStdString();
    ReportPreview* preview = controller.host().lastPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("Vantrel Report"));
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->currentPage(), 1);
    const QImage first = preview->pageImage();
    ASSERT_FALSE(first.isNull());
    EXPECT_NE(first.pixel(first.width() / 4, 60), first.pixel(2, 2));  // the title is drawn

    int pages = 1;
    while (preview->hasNextPage()) {
        preview->nextPage();
        ASSERT_EQ(preview->currentPage(), ++pages);
    }
    EXPECT_GE(pages, 3);
    preview->nextPage();
    EXPECT_EQ(preview->currentPage(), pages);
    preview->previousPage();
    EXPECT_EQ(preview->currentPage(), pages - 1);
    preview->showPage(1);
    EXPECT_EQ(preview->pageImage(), first);
    preview->close();
}

// Last and a typed page number reach pages never turned to, and each shows
// the same page as turning to it one Next at a time.
TEST_F(ReportUiTest, LastAndATypedPageNumberGoStraightToThePage) {
    {
        auto database = vts::logstore::open(dir());
        for (int i = 0; i < 200; ++i)
            vts::test::reports::addRow(*database, {1, "MANY", "", QStringLiteral("X%1").arg(i),
                                                   "1998-09-01 10:00:00", "", ""});
    }
    Page page;
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.print_c_Click(0);
    ReportPreview* stepped = controller.host().lastPreview();
    ASSERT_NE(stepped, nullptr);
    // The footer says when each preview's report was made, which differs
    // between two previews made a second apart: pages are compared above it.
    // Its baseline is half an inch above the bottom of the page, whichever
    // way the page is turned, and its letters rise less than a quarter inch.
    const auto body = [](const QImage& i) {
        const int cut = qRound(i.dotsPerMeterY() * 0.0254 * 0.75);
        return i.copy(0, 0, i.width(), i.height() - cut);
    };
    std::vector<QImage> pages{body(stepped->pageImage())};
    while (stepped->hasNextPage()) {
        stepped->nextPage();
        pages.push_back(body(stepped->pageImage()));
    }
    const int count = static_cast<int>(pages.size());
    ASSERT_GE(count, 4);
    stepped->close();

    controller.print_c_Click(0);
    ReportPreview* preview = controller.host().lastPreview();
    ASSERT_NE(preview, nullptr);
    ASSERT_NE(preview, stepped);
    struct Step {
        const char* name;
        std::function<void()> act;
        int expected;
    };
    const Step steps[] = {
        {"TypedPageAhead", [&] { preview->pageBox()->setValue(3); }, 3},
        {"Last", [&] { preview->lastButton()->click(); }, count},
        {"PreviousFromLast", [&] { preview->previousPage(); }, count - 1},
        {"TypedPageBehind", [&] { preview->pageBox()->setValue(2); }, 2},
        {"TypedBeyondTheEnd", [&] { preview->pageBox()->setValue(count + 50); }, count},
        {"NextAtTheEnd", [&] { preview->nextPage(); }, count},
        {"TypedFirst", [&] { preview->pageBox()->setValue(1); }, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(preview->currentPage(), step.expected);
        EXPECT_EQ(preview->pageBox()->value(), step.expected);
        EXPECT_EQ(body(preview->pageImage()), pages[static_cast<size_t>(step.expected - 1)]);
        EXPECT_EQ(preview->lastButton()->isEnabled(), step.expected < count);
        EXPECT_EQ(preview->hasNextPage(), step.expected < count);
    }
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.texts().join(QLatin1Char('\n')).toStdString();
    preview->close();
}

TEST_F(ReportUiTest, PrintGoesThroughThePrinterDialog) {
    Page page;
    page.status.setCurrentIndex(2);
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.host().setPrinterDialog([](QPrinter&) { return false; });
    controller.print_c_Click(2);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(controller.logic().lastSelection().formula, QStringLiteral("{tblLog.Status}=2"));

    const QString out = path(QStringLiteral("printed.pdf"));
    controller.host().setPrinterDialog([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(out);
        return true;
    });
    controller.print_c_Click(2);
    EXPECT_TRUE(dialogs.shown().empty());
    const QString text = vts::test::reports::pdfText(out);
    EXPECT_TRUE(text.contains(QStringLiteral("ADAMS")));
    EXPECT_TRUE(text.contains(QStringLiteral("Failed Messages")));
    EXPECT_FALSE(text.contains(QStringLiteral("JONES")));
    EXPECT_LT(text.indexOf(QStringLiteral("ADAMS")), text.lastIndexOf(QStringLiteral("SMITH")));
}

TEST_F(ReportUiTest, SaveAsksForAFileNameAndCancelWritesNothing) {
    Page page;
    page.sender.setText(QStringLiteral("SMI"));
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.host().setSaveFileAsker([] { return QString(); });
    controller.print_c_Click(1);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(QDir(dir()).entryList({QStringLiteral("*.pdf"), QStringLiteral("*.csv")}),
              QStringList());

    controller.host().setSaveFileAsker([this] { return path(QStringLiteral("s.csv")); });
    controller.print_c_Click(1);
    EXPECT_EQ(readFile(QStringLiteral("s.csv")).count('\n'), 3);  // heading and the two SMITH rows
}

TEST_F(ReportUiTest, AfterPurgingEverythingReportsAndPickersShowNothing) {
    PurgeLogic purge(dir(), dialogs);
    ASSERT_EQ(purge.purge({}), PurgeLogic::Outcome::Purged);
    frmSelectSender senders(dir(), dialogs);
    senders.load();
    EXPECT_EQ(senders.list()->count(), 0);
    QLineEdit department;
    frmSelectDepartment departments(dir(), dialogs, &department);
    departments.load();
    EXPECT_EQ(departments.list()->count(), 0);

    Page page;
    ReportsPageController controller(page.controls(), dir(), dialogs);
    controller.host().setSaveFileAsker([this] { return path(QStringLiteral("empty.pdf")); });
    controller.print_c_Click(1);
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("empty.pdf")));
    EXPECT_TRUE(text.contains(QStringLiteral("0 messages")));
    EXPECT_TRUE(text.contains(QStringLiteral("Page 1")));
    EXPECT_FALSE(text.contains(QStringLiteral("Page 2")));
}

class VtsReportCommandTest : public ReportUiTest {
protected:
    int run(const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
        QProcess p;
        p.setWorkingDirectory(dir());
        p.start(vts::test::binDir() + QStringLiteral("/vtsreport"), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        if (err) *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    }
};

TEST_F(VtsReportCommandTest, WritesTheSameReportAsThePage) {
    QString out;
    ASSERT_EQ(run({"--from", "07/01/1998", "--to", "07/31/1998", "--status", "failed", "--sender",
                   "SMI", "--sort", "sender", "-o", "r.pdf"},
                  &out),
              0);
    EXPECT_EQ(out, QStringLiteral("Selection formula: {tblLog.SentTime}>=Date(1998,7,1) AND "
                                  "{tblLog.SentTime}<=Date(1998,7,31) AND {tblLog.Status}=2 AND "
                                  "{tblLog.Sender} LIKE 'SMI*'\n"));
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("r.pdf")));
    EXPECT_TRUE(text.contains(QStringLiteral("From 7/1/1998 to 7/31/1998, Failed Messages, SMI")));
    EXPECT_TRUE(text.contains(QStringLiteral("R3")));
    EXPECT_FALSE(text.contains(QStringLiteral("R1 ")));

    ASSERT_EQ(run({"--type", "summary", "--output", "s.csv"}, &out), 0);
    EXPECT_EQ(out, QStringLiteral("Selection formula: \n"));
    EXPECT_TRUE(readFile(QStringLiteral("s.csv")).contains("Messages by Status,Total,4"));
}

TEST_F(VtsReportCommandTest, PageAndCommandWriteTheSameFormulaAndDescription) {
    auto titleRow = [this] {
        auto database = vts::logstore::open(dir());
        auto rs = database->openTable(QStringLiteral("tblReportInfo"));
        return rs->text(QStringLiteral("FilterTitle"));
    };
    Page page;  // its pickers set to another date form than the page's own
    ReportsPageController controller(page.controls(), dir(), dialogs);
    page.selectDate.setChecked(true);
    page.from.setDate(QDate(1998, 7, 1));
    page.to.setDate(QDate(1998, 7, 31));
    page.status.setCurrentIndex(2);
    page.sender.setText(QStringLiteral("SMI"));
    controller.host().setSaveFileAsker([this] { return path(QStringLiteral("p.csv")); });
    controller.print_c_Click(1);
    ASSERT_TRUE(dialogs.shown().empty()) << dialogs.texts().join(QLatin1Char('\n')).toStdString();
    const QString fromPage = titleRow();
    EXPECT_EQ(page.from.text(), QStringLiteral("7/1/1998"));  // as the description gives it

    QString out;
    ASSERT_EQ(run({"--from", "07/01/1998", "--to", "07/31/1998", "--status", "failed", "--sender",
                   "SMI", "-o", "c.csv"},
                  &out),
              0);
    EXPECT_EQ(titleRow(), fromPage);
    EXPECT_EQ(fromPage, QStringLiteral("From 7/1/1998 to 7/31/1998, Failed Messages, SMI"));
    EXPECT_EQ(out, QStringLiteral("Selection formula: ") +
                       buildSelection([&] {
                           Criteria c;
                           c.selectDate = true;
                           c.from = page.from.date();
                           c.to = page.to.date();
                           c.statusIndex = 2;
                           c.statusText = page.status.currentText();
                           c.sender = page.sender.text();
                           return c;
                       }())
                           .formula +
                       QLatin1Char('\n'));
    EXPECT_EQ(readFile(QStringLiteral("p.csv")), readFile(QStringLiteral("c.csv")));
}

TEST_F(VtsReportCommandTest, RefusesBadArgumentsAndReportsMissingLayouts) {
    const QStringList refused[] = {
        {"--type", "fancy", "-o", "x.pdf"},
        {"--from", "07/01/1998", "-o", "x.pdf"},
        {},
    };
    QString err;
    for (const QStringList& args : refused)
        EXPECT_EQ(run(args, nullptr, &err), 2) << args.join(' ').toStdString();
    QFile::remove(path(QStringLiteral("svrrpt2.rpt")));
    EXPECT_EQ(run({"--type", "fulltext", "-o", "x.pdf"}, nullptr, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("A required report file is not present: svrrpt2.rpt")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("x.pdf"))));
}

class VtsInitLayoutsTest : public vts::test::TempDirTest {};

TEST_F(VtsInitLayoutsTest, NewWorkingDirectoryHasTheThreeLayouts) {
    QProcess p;
    p.start(vts::test::binDir() + QStringLiteral("/vtsinit"), {path(QStringLiteral("site"))});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    for (int i = 0; i < 3; ++i) {
        const QString file = path(QStringLiteral("site/") + *layoutFileForType(i));
        EXPECT_NO_THROW(loadLayout(file)) << file.toStdString();
    }
}

}  // namespace
