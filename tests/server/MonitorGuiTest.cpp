// vtsmonitor's windows come from its plug-in: which settings ask for them, a
// server whose plug-in is missing running headless although a display is
// named, and a server on a virtual X display loading the plug-in and showing
// its main window.
#include "MonitorGui.h"
#include "MonitorRun.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <functional>

using namespace vts;
using namespace vts::test;

namespace {

TEST(MonitorGuiTest, WindowsOnlyWithANamedDisplayAndAnOnscreenPlatform) {
    struct Row {
        const char* display;
        const char* wayland;
        const char* platform;
        bool windows;
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, false},
        {":0", nullptr, nullptr, true},
        {nullptr, "wayland-0", nullptr, true},
        {":0", nullptr, "xcb", true},
        {":0", nullptr, "offscreen", false},
        {nullptr, "wayland-0", "minimal", false},
        {"", "", nullptr, false},
        {nullptr, nullptr, "xcb", false},
    };
    for (const Row& r : rows) {
        QProcessEnvironment env;
        const std::pair<const char*, const char*> vars[] = {{"DISPLAY", r.display},
                                                            {"WAYLAND_DISPLAY", r.wayland},
                                                            {"QT_QPA_PLATFORM", r.platform}};
        QString name;
        for (const auto& [var, value] : vars) {
            if (value) {
                env.insert(QString::fromLatin1(var), QString::fromLatin1(value));
                name += QString::fromLatin1(var) + QLatin1Char('=') + QString::fromLatin1(value) +
                        QLatin1Char(' ');
            }
        }
        EXPECT_EQ(monitorgui::displayPresent(env), r.windows) << name.toStdString();
    }
}

class WindowPluginTest : public MonitorRun {
protected:
    void TearDown() override {
        MonitorRun::TearDown();
        killProcess(m_x);
    }

    void startServerOn(const QString& program, const QString& display) {
        QProcessEnvironment env = headlessEnv();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), display);
        m_server.setWorkingDirectory(dir());
        m_server.setProcessEnvironment(env);
        m_server.start(program, QStringList());
        ASSERT_TRUE(m_server.waitForStarted(5000));
    }

    // Waits up to `ms` for `done`, looking again every quarter second while
    // the server runs.
    bool waitUntil(const std::function<bool()>& done, int ms) {
        const QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired() || m_server.waitForFinished(250)) {
                return false;
            }
        }
        return true;
    }

    QProcess m_x;
};

TEST_F(WindowPluginTest, WithoutItsPlugInTheServerRunsHeadlessAlthoughADisplayIsNamed) {
    // The program alone in a folder of its own; its libraries are still
    // found through its RUNPATH, the plug-in is not.
    ASSERT_TRUE(QDir(dir()).mkpath(QStringLiteral("bin")));
    const QString program = path(QStringLiteral("bin/vtsmonitor"));
    const QString built = binDir() + QStringLiteral("/vtsmonitor");
    if (::link(QFile::encodeName(built).constData(), QFile::encodeName(program).constData()) != 0) {
        ASSERT_TRUE(QFile::copy(built, program));
    }
    // A display nobody serves: a server that tried to open it would end.
    startServerOn(program, QStringLiteral(":4711"));
    ASSERT_TRUE(waitForOutput(QStringLiteral(" - Vantrel Server started")))
        << m_server.readAllStandardError().toStdString();
    EXPECT_TRUE(m_server.readAllStandardError().contains("libvtsmonitorgui.so is in none of"));
    stopServer();
}

TEST_F(WindowPluginTest, OnADisplayThePlugInShowsTheMainWindow) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    // Xvfb picks a free display and names it on standard output.
    m_x.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("800x600x24")});
    QString number;
    ASSERT_TRUE(test::waitForOutput(m_x, number, QStringLiteral("\n"), 15000))
        << "Xvfb did not start";
    const QString display = QLatin1Char(':') + number.trimmed();

    startServerOn(binDir() + QStringLiteral("/vtsmonitor"), display);
    const QString maps = QStringLiteral("/proc/%1/maps").arg(m_server.processId());
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile f(maps);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("/libvtsmonitorgui.so");
        },
        20000))
        << m_server.readAllStandardError().toStdString();
    // The lock file comes after the stop signals are taken over.
    EXPECT_TRUE(waitUntil(
        [&] { return QFileInfo::exists(path(QStringLiteral("vtsmonitor.lock"))); }, 20000));
    const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (!xwininfo.isEmpty()) {
        EXPECT_TRUE(waitUntil(
            [&] {
                const ProgramRun r = runProgram(xwininfo,
                                                {QStringLiteral("-display"), display,
                                                 QStringLiteral("-root"), QStringLiteral("-tree")},
                                                5000);
                return r.out.contains(QStringLiteral("\"Vantrel Server Monitor\""));
            },
            20000));
    }
    stopServer();
    // The status lines went to the window, not to standard output.
    m_out += QString::fromLocal8Bit(m_server.readAllStandardOutput());
    EXPECT_FALSE(m_out.contains(QStringLiteral("Vantrel Server started"))) << m_out.toStdString();
}

}  // namespace
