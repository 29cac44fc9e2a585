#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "frmConnectISP.h"
#include "frmDontrun.h"
#include "frmUpdateVT.h"

#include "TestServer.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"
#include "WindowFit.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace vts;
using vts::test::pumpUntil;

namespace {

QStringList textLines(QWidget* w) {
    QStringList out;
    for (QLabel* l : w->findChildren<QLabel*>()) {
        if (l->objectName() == "Label7") continue;
        out << l->text();
        EXPECT_TRUE(l->font().bold()) << l->text().toStdString();
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(Qt::white));
        EXPECT_TRUE(l->alignment() & Qt::AlignHCenter);
    }
    return out;
}

class UpdaterWindowsTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        writeFile("VT.EXE", "old client program");
        writeFile("FILEINFO.TXT", "VT 1\r\n");
        m_server.host = QStringLiteral("127.0.0.1");
        m_server.port = test::closedPort();
    }
    void makeWindow(OnlyOne* guard = nullptr) {
        m_actions = std::make_unique<UpdaterActions>(ProgramFolder(dir()), m_server, m_loop,
                                                     m_dialogs, m_launcher);
        QObject::connect(m_actions.get(), &UpdaterActions::quitRequested,
                         [this] { m_quit = true; });
        m_window = std::make_unique<frmUpdateVT>(*m_actions, guard);
        m_window->show();
    }

    ServerAddress m_server;
    VirtualEventLoop m_loop;
    ScriptedDialogs m_dialogs;
    RecordingLauncher m_launcher;
    std::unique_ptr<UpdaterActions> m_actions;
    std::unique_ptr<frmUpdateVT> m_window;
    bool m_quit = false;
};

TEST_F(UpdaterWindowsTest, MainWindowOffersTheUpdate) {
    makeWindow();
    EXPECT_EQ(m_window->windowTitle(), "Vantrel Update Program");
    EXPECT_EQ(textLines(m_window.get()),
              (QStringList{"There may be a new Vantrel update available online.",
                           "Click the Update button below to automatically upgrade your",
                           "copy of Vantrel if an update is available."}));
    EXPECT_EQ(m_window->btnContinue->text(), "Update");
    EXPECT_TRUE(m_window->btnContinue->isDefault());
    EXPECT_EQ(m_window->btnCancel->text(), "Cancel");
    EXPECT_EQ(m_window->palette().color(QPalette::Window), QColor(0, 128, 128));
    EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize());
}

// Every desktop font and screen scale, each in a test of its own.
class UpdaterWindowsAtFont : public UpdaterWindowsTest,
                             public ::testing::WithParamInterface<vts::test::DesktopFont> {};

INSTANTIATE_TEST_SUITE_P(DesktopFonts, UpdaterWindowsAtFont,
                         ::testing::ValuesIn(vts::test::desktopFonts()),
                         [](const auto& info) { return info.param.name(); });

TEST_P(UpdaterWindowsAtFont, EveryWindowShowsItsTextsWhole) {
    const vts::test::ScopedDesktopFont font(GetParam());
    makeWindow();
    m_window->btnContinue->click();
    m_window->connectWindow()->Label7->setText(" Updating...please wait.");
    frmDontrun instructions;
    instructions.show();
    for (QWidget* w :
         {static_cast<QWidget*>(m_window.get()), static_cast<QWidget*>(m_window->connectWindow()),
          static_cast<QWidget*>(&instructions)}) {
        EXPECT_TRUE(test::measuresText(w)) << "no usable font";
        const QStringList clipped = test::clippedTexts(w);
        EXPECT_TRUE(clipped.isEmpty())
            << w->objectName().toStdString() << ": " << clipped.join("\n").toStdString();
    }
}

TEST_F(UpdaterWindowsTest, CancelRecordsTheDecisionShowsInstructionsThenStartsTheClient) {
    makeWindow();
    m_window->btnCancel->click();
    EXPECT_EQ(readFile("UPDATED.TXT"), QByteArray("1/5/2026 9:00:00 AM\r\n"));
    auto* instructions = qobject_cast<frmDontrun*>(m_window->instructionsWindow());
    ASSERT_NE(instructions, nullptr);
    EXPECT_TRUE(instructions->isVisible());
    EXPECT_TRUE(instructions->isModal());
    EXPECT_EQ(instructions->windowTitle(), "Update Vantrel Program");
    EXPECT_EQ(textLines(instructions),
              (QStringList{"To update Vantrel in the future, start Vantrel and:",
                           "1. Click the Setup button.", "2. Click the Setup Wizard button.",
                           "3. Click the Update button."}));
    EXPECT_TRUE(m_launcher.requests.empty());
    EXPECT_FALSE(m_quit);
    instructions->btnOkay->click();
    ASSERT_EQ(m_launcher.requests.size(), 1u);
    EXPECT_EQ(m_launcher.requests[0].program, "VT.EXE");
    EXPECT_EQ(m_launcher.requests[0].folder, QDir(dir()).absolutePath());
    EXPECT_TRUE(m_quit);
}

TEST_F(UpdaterWindowsTest, UpdateOpensTheConnectWindowAndAFailedFetchBringsTheMainWindowBack) {
    makeWindow();
    m_window->btnContinue->click();
    frmConnectISP* c = m_window->connectWindow();
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isVisible());
    EXPECT_TRUE(c->isModal());
    EXPECT_FALSE(m_window->btnContinue->isEnabled());
    EXPECT_EQ(c->windowTitle(), "Vantrel Update Program");
    EXPECT_EQ(
        textLines(c),
        (QStringList{"If you are not currently connected to your ISP (Internet Service Provider),",
                     "please do so now.",
                     "You can connect to your ISP by starting your Internet browser or your",
                     "e-mail program.",
                     "After you have connected to your ISP, return to this screen and click the",
                     "Update button below."}));
    EXPECT_TRUE(c->Label7->text().isEmpty());
    EXPECT_EQ(c->btnGetUpdate->text(), "Update");
    EXPECT_EQ(c->btnCancel->text(), "Cancel");
    EXPECT_EQ(c->DownloadBar->minimum(), 0);
    EXPECT_EQ(c->DownloadBar->maximum(), 100);
    EXPECT_EQ(c->DownloadBar->parentWidget(), c->DownloadPanel);

    c->btnGetUpdate->click();
    EXPECT_EQ(c->Label7->text(), " Updating...please wait.");
    ASSERT_TRUE(pumpUntil([this] { return m_window->connectWindow() == nullptr; }));
    EXPECT_EQ(m_dialogs.texts().size(), 1u);
    EXPECT_TRUE(m_window->btnContinue->isEnabled());
    EXPECT_TRUE(QFileInfo(path("GETVT")).isDir());
    EXPECT_FALSE(QFileInfo::exists(path("UPDATED.TXT")));
    EXPECT_FALSE(m_quit);

    // Update opens it again.
    m_window->btnContinue->click();
    EXPECT_NE(m_window->connectWindow(), nullptr);
}

TEST_F(UpdaterWindowsTest, ConnectWindowCancelDeclines) {
    makeWindow();
    m_window->btnContinue->click();
    QPointer<frmConnectISP> c = m_window->connectWindow();
    c->btnCancel->click();
    ASSERT_TRUE(pumpUntil([&] { return c.isNull(); }));
    EXPECT_TRUE(QFileInfo::exists(path("UPDATED.TXT")));
    ASSERT_NE(m_window->instructionsWindow(), nullptr);
    EXPECT_TRUE(m_window->instructionsWindow()->isVisible());
}

// Cancel, Escape and the close box each stop a download whose server has
// stopped sending: the window closes within a second of real time, the
// partial download is gone and the old client program is untouched.
TEST_F(UpdaterWindowsTest, EveryWayOfCancellingStopsAStalledDownload) {
    struct Way {
        const char* name;
        std::function<void(frmConnectISP*)> cancel;
    };
    const Way ways[] = {
        {"CancelButton", [](frmConnectISP* c) { c->btnCancel->click(); }},
        {"Escape", [](frmConnectISP* c) { QTest::keyClick(c, Qt::Key_Escape); }},
        {"CloseBox", [](frmConnectISP* c) { c->close(); }},
    };
    writeFile("www/zupdate/fileinfo.txt", "VT 2\r\n");
    writeFile("www/zupdate/vtupdate.exe", QByteArray(40000, 'n'));
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        QDir(path("requests")).removeRecursively();
        QDir().mkpath(path("requests"));
        auto server = test::TestServer::script(path("www"), path("requests"),
                                               {"/zupdate/vtupdate.exe=pause"}, 10000);
        ASSERT_TRUE(server->ok());
        m_server.port = server->port();
        makeWindow();
        m_window->btnContinue->click();
        QPointer<frmConnectISP> c = m_window->connectWindow();
        ASSERT_TRUE(c);
        c->btnGetUpdate->click();
        ASSERT_TRUE(pumpUntil([&] { return c->DownloadBar->value() == 25; }));
        way.cancel(c);
        EXPECT_TRUE(pumpUntil([&] { return c.isNull(); }, 1000));
        EXPECT_EQ(readFile("VT.EXE"), "old client program");
        EXPECT_EQ(QDir(dir()).entryList({"VT.EXE*"}, QDir::Files | QDir::Hidden),
                  QStringList{"VT.EXE"});
        ASSERT_NE(m_window->instructionsWindow(), nullptr);
        EXPECT_TRUE(m_window->instructionsWindow()->isVisible());
        m_window.reset();
        m_actions.reset();
    }
}

TEST_F(UpdaterWindowsTest, DownloadBarReachesTheEnd) {
    writeFile("www/zupdate/fileinfo.txt", "VT 2\r\n");
    writeFile("www/zupdate/vtupdate.exe", QByteArray(40000, 'n'));
    auto server = test::TestServer::pythonHttpServer(path("www"));
    ASSERT_TRUE(server->ok());
    m_server.port = server->port();
    makeWindow();
    m_window->btnContinue->click();
    frmConnectISP* c = m_window->connectWindow();
    c->btnGetUpdate->click();
    ASSERT_TRUE(pumpUntil([this] { return m_quit; }));
    EXPECT_EQ(c->DownloadBar->value(), 100);
    EXPECT_TRUE(c->Label7->text().isEmpty());
    EXPECT_EQ(readFile("VT.EXE"), QByteArray(40000, 'n'));
}

// Quitting the application closes every open window before the event loop
// ends (QCoreApplication::quit does this); the test does the same, as the
// program's main() does, through a queued call.
TEST_F(UpdaterWindowsTest, AfterAnyEndingTheClientStartsOnceAndEveryWindowCloses) {
    struct Case {
        const char* name;
        QByteArray served;
    };
    for (const Case& kase : {Case{"LatestVersion", "VT 1\r\n"}, Case{"Downloaded", "VT 2\r\n"}}) {
        SCOPED_TRACE(kase.name);
        writeFile("www/zupdate/fileinfo.txt", kase.served);
        writeFile("www/zupdate/vtupdate.exe", QByteArray(40000, 'n'));
        auto server = test::TestServer::pythonHttpServer(path("www"));
        ASSERT_TRUE(server->ok());
        m_server.port = server->port();
        m_launcher.requests.clear();
        m_dialogs.clear();
        m_quit = false;
        makeWindow();
        QObject::connect(m_actions.get(), &UpdaterActions::quitRequested, qApp,
                         &QApplication::closeAllWindows, Qt::QueuedConnection);
        m_window->btnContinue->click();
        QPointer<frmConnectISP> c = m_window->connectWindow();
        ASSERT_TRUE(c);
        c->btnGetUpdate->click();
        ASSERT_TRUE(pumpUntil([this] { return m_quit; }));
        ASSERT_TRUE(pumpUntil([&] { return c.isNull() && !m_window->isVisible(); }))
            << "a window stayed open";
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
        EXPECT_EQ(m_launcher.requests.size(), 1u);
        EXPECT_EQ(m_window->instructionsWindow(), nullptr);
        m_window.reset();
        m_actions.reset();
    }
}

TEST_F(UpdaterWindowsTest, SecondCopyBringsTheMinimizedWindowBack) {
    OnlyOne guard(dir(), "updater");
    ASSERT_TRUE(guard.claim());
    makeWindow(&guard);
    m_window->showMinimized();
    ASSERT_TRUE(pumpUntil([this] { return m_window->isMinimized(); }));
    OnlyOne second(dir(), "updater");
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(pumpUntil([this] { return !m_window->isMinimized(); }));
    EXPECT_TRUE(m_window->isVisible());
}

}  // namespace
