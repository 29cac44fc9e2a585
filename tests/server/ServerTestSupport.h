#pragma once

#include "AlertMailer.h"
#include "AlertSound.h"
#include "Dialogs.h"
#include "Launcher.h"
#include "MonitorCore.h"
#include "MonitorView.h"
#include "PortRecord.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vts::test {

// A view that records what the logic showed.
class RecordingView final : public MonitorView {
public:
    void showSplash() override { events << QStringLiteral("splash"); }
    void setSplashLabel(const QString& text) override { events << QStringLiteral("label:") + text; }
    void closeSplash() override { events << QStringLiteral("splash closed"); }
    void showMonitor() override { events << QStringLiteral("monitor"); }
    void showVisualAlert(const QString& text) override { alerts << text; }
    void showShutdownNotice() override { events << QStringLiteral("shutdown"); }
    void closeShutdownNotice() override { events << QStringLiteral("shutdown closed"); }
    QStringList events;
    QStringList alerts;
};

// One queue message file's header values; lines() gives the file's lines.
struct QueueLines {
    QString method = QStringLiteral("TAP");
    QString computer = QStringLiteral("PC-ONE");
    QString clientPath = QStringLiteral("C:\\VT\\CLIENT.MDB");
    QString sender = QStringLiteral("ALICE");
    QString department = QStringLiteral("Sales");
    QString recipient = QStringLiteral("Bob");
    QString sentTime = QStringLiteral("07/15/2026 10:30:00");
    QString phone = QStringLiteral("5551234");
    QString pin = QStringLiteral("1001");
    QString password = QStringLiteral("pw");
    QString block = QStringLiteral("80");
    QString serial = QStringLiteral("1200,E,7,1");
    QString init = QStringLiteral("ATZ");
    QString dial = QStringLiteral("ATDT");
    QString email = QStringLiteral("bob@example.com");
    QString smtp = QStringLiteral("mail.example.com");
    QString reverse = QStringLiteral("0");
    QStringList body{QStringLiteral("Hello")};
    QStringList lines() const;
};

// What the stand-in dialer does with one run: the status of each message
// record (2 sent, 3 failed, 4 cancelled, 5 modem error) and of the header.
using DialerScript = std::function<PortStatus(int run, const PortRecord& message)>;

// A working directory with both stores and a queue folder, a real pager
// control in virtual time, and a stand-in dialer that finishes each run at
// once with the results the test's script gives.
class ServerTest : public TempDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The stand-in dialer of `dialer` (set by SetUp).
    void useStandInDialer();
    // Creates the core (not started).
    MonitorCore& core();
    bool startCore();
    // Advances virtual time, one second at a time.
    void run(double seconds);

    void setSetting(const QString& field, const QVariant& value);
    void addModem(const QString& comPort);
    void clearModems();
    QString queueDir() const { return path(QStringLiteral("queue")); }
    void writeQueueFile(const QString& name, const QStringList& lines);
    QStringList filesIn(const QString& sub) const;  // "" for the queue folder
    // A log row's fields by ID; empty map when absent.
    QVariantMap logRow(qint64 id);
    int logRowCount();
    int clientCount();
    QStringList statusTexts();
    bool hasStatus(const QString& text);

    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    RecordingView view;
    int beeps = 0;
    CallbackSound sound{[this] { ++beeps; }};
    AlertMailer mailer;
    std::unique_ptr<MonitorCore> m_core;

    // Dialer runs: port index and the message records handed over.
    struct Run {
        int port = 0;
        std::vector<PortRecord> messages;
    };
    std::vector<Run> runs;
    DialerScript dialer;  // default: everything sent
    QString sysDir;
};

}  // namespace vts::test
