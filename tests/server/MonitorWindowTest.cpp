// The server's windows on real widgets (offscreen): the main window's
// controls, the exit through its close box, the alert window and the
// notification-area double click.
#include "ServerTestSupport.h"

#include "StatusListModel.h"
#include "WidgetMonitorView.h"
#include "WindowFit.h"
#include "frmMonitor.h"
#include "frmShutdown.h"
#include "frmSplash.h"
#include "frmVisualAlert.h"

#include <QColor>
#include <QLabel>
#include <QListView>
#include <QPushButton>

using namespace vts;
using namespace vts::test;

namespace {

class MonitorWindowTest : public ServerTest {};

TEST_F(MonitorWindowTest, ButtonsSitAtTheirTwipPositionsWithTheirCaptions) {
    ASSERT_TRUE(startCore());
    frmMonitor form(core());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Vantrel Server Monitor"));
    struct Row {
        QPushButton* button;
        const char* caption;
        int left;
    };
    const Row rows[] = {{form.ClearEvents_c(), "Clear Events", 8},
                        {form.Command1(), "Cancel Alert", 106},
                        {form.Configure_c(), "Setup / Reports", 204},
                        {form.Shutdown_c(), "Shut Down", 302}};
    for (const Row& r : rows) {
        EXPECT_EQ(r.button->text(), QString::fromLatin1(r.caption));
        EXPECT_EQ(r.button->geometry(), QRect(r.left, 10, 98, 21)) << r.caption;
    }
    EXPECT_EQ(form.Status_c()->geometry(), QRect(4, 36, 572, 290));
}

TEST_F(MonitorWindowTest, StatusListSelectsTheNewestLineAndClearEventsEmptiesIt) {
    ASSERT_TRUE(startCore());
    frmMonitor form(core());
    form.show();
    core().AddStatus(QStringLiteral("second"));
    EXPECT_EQ(form.Status_c()->currentIndex().row(), 1);
    form.ClearEvents_c()->click();
    EXPECT_EQ(core().status().rowCount(), 0);
    core().AddStatus(QStringLiteral("after"));
    EXPECT_EQ(core().status().rowCount(), 1);
}

// A line longer than the list is whole in its tooltip; failures are red and
// everything else keeps the list's own colour; the list grows with the
// window, which opens at the form's size and never gets smaller.
TEST_F(MonitorWindowTest, StatusListShowsWholeLinesMarksFailuresAndGrows) {
    ASSERT_TRUE(startCore());
    frmMonitor form(core());
    form.show();
    core().status().clear();
    struct Row {
        const char* text;
        bool failure;
    };
    const Row rows[] = {
        {"Message sucessfully sent: Ph#=5551234567890 PIN=1234567890123 ID=99999999", false},
        {"Message failed: Ph#=5551234567890 PIN=1234567890123 ID=99999999", true},
        {"Error 5", true},
        {"Error: PMF file format error: A1234567.PMF", true},
        {"Submitted to queue: Ph#=555 PIN=1 ID=7", false},
        {"Message cancelled during dialing: Ph#=555 PIN=1 ID=8", false},
        {"Vantrel Server started with an Error later in the line", false},
    };
    for (const Row& r : rows) core().AddStatus(QString::fromLatin1(r.text));
    const QAbstractItemModel* shown = form.Status_c()->model();
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        SCOPED_TRACE(rows[i].text);
        const QModelIndex index = shown->index(i, 0);
        EXPECT_EQ(shown->data(index, Qt::ToolTipRole).toString(), core().status().lines()[i]);
        EXPECT_TRUE(core().status().lines()[i].endsWith(QString::fromLatin1(rows[i].text)));
        const QVariant colour = shown->data(index, Qt::ForegroundRole);
        if (rows[i].failure)
            EXPECT_EQ(colour.value<QColor>(), QColor(Qt::red));
        else
            EXPECT_FALSE(colour.isValid());
    }

    const QSize usual(580, 332);
    EXPECT_EQ(form.size(), usual);
    EXPECT_EQ(form.minimumSize(), usual);
    EXPECT_NE(form.maximumSize(), usual);
    form.resize(900, 600);
    EXPECT_EQ(form.Status_c()->geometry(), QRect(4, 36, 892, 558));
    EXPECT_EQ(form.Shutdown_c()->geometry(), QRect(302, 10, 98, 21));
    form.resize(400, 200);
    EXPECT_EQ(form.size(), usual);
    EXPECT_EQ(form.Status_c()->geometry(), QRect(4, 36, 572, 290));
}

TEST_F(MonitorWindowTest, CloseBoxWithPendingFilesAndNoKeepsTheWindowOpen) {
    clearModems();
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    run(2);
    frmMonitor form(core());
    form.show();
    dialogs.queueAnswer(Dialogs::Answer::No);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(core().timer1().isActive());
    dialogs.queueAnswer(Dialogs::Answer::Yes);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(filesIn(QString()), QStringList{QStringLiteral("A1.PMF")});
}

TEST_F(MonitorWindowTest, AlertWindowTakesTheNewestTextAndCloses) {
    WidgetMonitorView widgets;
    widgets.showVisualAlert(QStringLiteral("Modem error on COM port #2\r\n\r\nPh#=1 PIN=2 ID=3"));
    ASSERT_NE(widgets.visualAlert(), nullptr);
    frmVisualAlert* w = widgets.visualAlert();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vantrel Server Alert!"));
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(w->isVisible());
    widgets.showVisualAlert(QStringLiteral("Message failed: Ph#=1 PIN=2 ID=3"));
    EXPECT_EQ(widgets.visualAlert(), w);
    EXPECT_EQ(w->Label1()->text(), QStringLiteral("Message failed: Ph#=1 PIN=2 ID=3"));
    EXPECT_EQ(w->closeButton()->text(), QStringLiteral("Close"));
    w->closeButton()->click();
    EXPECT_FALSE(w->isVisible());
}

// Every desktop font and screen scale, each in a test of its own.
class MonitorWindowAtFont : public MonitorWindowTest,
                            public ::testing::WithParamInterface<vts::test::DesktopFont> {};

INSTANTIATE_TEST_SUITE_P(DesktopFonts, MonitorWindowAtFont,
                         ::testing::ValuesIn(vts::test::desktopFonts()),
                         [](const auto& info) { return info.param.name(); });

// Every server window with the longest texts it is given: the start-up
// window's labels, the alert window's two-line modem alert and the
// shut-down notice. No caption may be cut off.
TEST_P(MonitorWindowAtFont, EveryWindowShowsItsTextsWhole) {
    const vts::test::ScopedDesktopFont font(GetParam());
    ASSERT_TRUE(startCore());
    frmMonitor form(core());
    form.show();
    frmSplash splash;
    splash.show();
    frmShutdown shutdown;
    shutdown.show();
    frmVisualAlert alert;
    alert.showAlert(
        QStringLiteral("Modem error on COM port #8\r\n\r\nPh#=555123456789 PIN=12345678 ID=99999"));
    const auto check = [](QWidget* w, const QString& state) {
        EXPECT_TRUE(test::measuresText(w)) << "no usable font";
        const QStringList clipped = test::clippedTexts(w);
        EXPECT_TRUE(clipped.isEmpty())
            << state.toStdString() << ": " << clipped.join("\n").toStdString();
    };
    check(&form, QStringLiteral("frmMonitor"));
    // Scaled, the form keeps its arrangement: one row of buttons, left to
    // right without overlap, the list below them.
    const QPushButton* row[] = {form.ClearEvents_c(), form.Command1(), form.Configure_c(),
                                form.Shutdown_c()};
    for (size_t i = 1; i < std::size(row); ++i) {
        EXPECT_EQ(row[i]->y(), row[0]->y());
        EXPECT_GT(row[i]->x(), row[i - 1]->geometry().right());
    }
    EXPECT_GT(form.Status_c()->y(), row[0]->geometry().bottom());
    for (QPushButton* b : {form.Command1(), form.Configure_c(), form.Shutdown_c()})
        EXPECT_EQ(b->font(), form.ClearEvents_c()->font())
            << "the buttons' captions differ in size";
    for (const QString& text :
         {QStringLiteral("Creating a new log file..."), QStringLiteral("Compacting Log...")}) {
        splash.Label4()->setText(text);
        check(&splash, QStringLiteral("frmSplash: ") + text);
    }
    check(&shutdown, QStringLiteral("frmShutdown"));
    check(&alert, QStringLiteral("frmVisualAlert"));
}

TEST_F(MonitorWindowTest, DoubleClickOnTheTrayIconRestoresTheWindow) {
    ASSERT_TRUE(startCore());
    frmMonitor form(core());
    form.showMinimized();
    form.cSysTray1_MouseDblClick();
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(form.windowState() & Qt::WindowMaximized);
}

}  // namespace
