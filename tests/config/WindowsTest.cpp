#include "ClientDialog.h"
#include "ConfigTestSupport.h"
#include "WindowDialogs.h"
#include "WindowFit.h"
#include "WindowTour.h"
#include "frmDirectDial.h"
#include "frmSMTP.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace vts;
using test::child;

namespace {

class Windows : public test::ConfigWindowTest {};

// Every desktop font and screen scale, each in a test of its own.
class WindowsAtFont : public Windows,
                      public ::testing::WithParamInterface<vts::test::DesktopFont> {};

INSTANTIATE_TEST_SUITE_P(DesktopFonts, WindowsAtFont,
                         ::testing::ValuesIn(vts::test::desktopFonts()),
                         [](const auto& info) { return info.param.name(); });

// Every window as the operator sees it, with a long list of modems so the
// note on unusable ports is at its longest: no caption may be cut off.
TEST_P(WindowsAtFont, EveryWindowShowsItsTextsWhole) {
    const vts::test::ScopedDesktopFont font(GetParam());
    tour::sampleStore(dir(), 32);
    QStringList problems;
    QStringList seen;
    ASSERT_TRUE(tour::visitAll(context, [&](QWidget& w, const QString& name) {
        seen << name;
        EXPECT_TRUE(test::measuresText(&w)) << "no usable font";
        // Drive1 lists this machine's mount points, whatever their length.
        for (const QString& p : test::clippedTexts(&w, {"Drive1"})) problems << name + ": " + p;
    }));
    EXPECT_EQ(seen.size(), 14) << seen.join(", ").toStdString();
    EXPECT_TRUE(problems.isEmpty()) << problems.join("\n").toStdString();
}

TEST_F(Windows, TheFitCheckFindsAClippedLabel) {
    QWidget w;
    w.resize(300, 100);
    auto* l = new QLabel(QStringLiteral("Outgoing mail server (SMTP) address"), &w);
    l->setObjectName("tooNarrow");
    l->setGeometry(10, 10, 60, 20);
    auto* b = new QPushButton(QStringLiteral("Pending Files Status"), &w);
    b->setGeometry(250, 40, 100, 26);  // past the right edge too
    const QStringList found = test::clippedTexts(&w);
    ASSERT_GE(found.size(), 3) << found.join("\n").toStdString();
    EXPECT_TRUE(found.join("\n").contains("tooNarrow"));
    l->setGeometry(10, 10, 280, 20);
    b->setGeometry(10, 40, 200, 26);
    EXPECT_TRUE(test::clippedTexts(&w).isEmpty())
        << test::clippedTexts(&w).join("\n").toStdString();
}

TEST_F(Windows, ClientDialogsTabFromTheLocationToBrowseAndOnToTheComputerName) {
    frmAddClient add(context);
    const auto main = openMain();
    ASSERT_FALSE(HasFailure());
    main->UserList_c()->setCurrentRow(0);
    frmEditClient edit(context, *main);
    for (ClientDialog* d : {static_cast<ClientDialog*>(&add), static_cast<ClientDialog*>(&edit)}) {
        QStringList order;
        QWidget* w = d->Username_c();
        for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
            while (!(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
            order << w->objectName();
        }
        EXPECT_EQ(order, QStringList({"Username_c", "ClientLocation_c", "Command3",
                                      "ComputerName_c", "Command2", "Command1"}))
            << d->objectName().toStdString();
    }
}

TEST_F(Windows, ClientBrowseShowsTheFiltersNameNotItsPattern) {
    frmAddClient add(context);
    const auto dialog = add.makeFileDialog();
    dialog->show();
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->currentText(), "Vantrel Client");
    EXPECT_EQ(dialog->nameFilters(), QStringList({"Vantrel Client ([Vv][Tt].[Mm][Dd][Bb])"}));
    dialog->hide();
}

TEST_F(Windows, HelpInTheDirectDialDialogStaysOverThatDialog) {
    const auto main = openMain();
    ASSERT_FALSE(HasFailure());
    main->show();
    EXPECT_EQ(main->directDial()->parentWidget(), main.get());
    EXPECT_EQ(main->smtp()->parentWidget(), main.get());
    main->directDial()->open();
    EXPECT_EQ(WindowDialogs::ownerFor(main.get()), main->directDial());

    // The real message box, closed as soon as it shows.
    WindowDialogs boxes(main.get());
    frmDirectDial dial(boxes, main.get());
    dial.open();
    QWidget* owner = nullptr;
    std::function<void()> closeBox = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            owner = box->parentWidget();
            box->accept();
        } else {
            QTimer::singleShot(5, closeBox);
        }
    };
    QTimer::singleShot(0, closeBox);
    child<QPushButton>(&dial, "cmdHelp")->click();
    EXPECT_EQ(owner, &dial);
    EXPECT_TRUE(dial.isVisible());
    dial.reject();
    main->directDial()->reject();
    main->hide();
}

// The real box of a confirmation: Enter presses No, so it answers No, while
// an ordinary question keeps Yes as its default.
TEST_F(Windows, EnterAloneDoesNotConfirm) {
    WindowDialogs boxes;
    struct Case {
        const char* name;
        bool confirmation;
        bool yes;
    };
    for (const Case& c : {Case{"Confirm", true, false}, Case{"Ask", false, true}}) {
        SCOPED_TRACE(c.name);
        std::function<void()> press = [&press] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                QTest::keyClick(box, Qt::Key_Return);
            } else {
                QTimer::singleShot(5, press);
            }
        };
        QTimer::singleShot(0, press);
        const QString text =
            QStringLiteral("Not selecting any criteria will purge the entire log!");
        const bool yes =
            c.confirmation
                ? boxes.confirm(text, QStringLiteral("Warning!!!"), Dialogs::Icon::Exclamation)
                : boxes.askYesNo(text, QStringLiteral("Warning!!!"), Dialogs::Icon::Exclamation);
        EXPECT_EQ(yes, c.yes);
    }
}

}  // namespace
