// bench_server [--idle-seconds N] [--kept N,N,...]
// 1. Intake: 800 well-formed files in the queue folder, one check; time until
//    all 800 are logged, moved to PENDING and accepted by the pager control.
//    Baseline in the same run: bare SQLite inserts (same store settings) plus
//    renames of 800 files. Prints files per second for both and the ratio.
// 2. Kept files: with 0, 10,000 and 100,000 files (by default) kept in SENT,
//    none of them due (files kept 30 days, every file one day old):
//    - the time of one check with an empty queue folder, in the process
//      (the first check, which reads the folders whole, and the median of
//      the checks after it), against the empty case;
//    - a real headless vtsmonitor checking every 5 seconds: CPU time over N
//      idle seconds (default 60) as a share of one core, and its resident
//      memory, against the empty case.
#include "AlertMailer.h"
#include "AlertSound.h"
#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "Launcher.h"
#include "MonitorCore.h"
#include "MonitorView.h"
#include "PagerOCX.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "StatusListModel.h"
#include "TextFile.h"
#include "VirtualEventLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vts;

namespace {

constexpr int kFiles = 800;

class NullView final : public MonitorView {
public:
    void showVisualAlert(const QString&) override {}
};

QStringList queueLines(int i) {
    return {QStringLiteral("TAP"),
            QStringLiteral("PC-%1").arg(i % 20),
            QStringLiteral("C:\\VT"),
            QStringLiteral("USER%1").arg(i % 20),
            QStringLiteral("Dept"),
            QStringLiteral("Bob"),
            QStringLiteral("07/15/2026 10:30:00"),
            QStringLiteral("555%1").arg(i % 50, 4, 10, QLatin1Char('0')),
            QStringLiteral("%1").arg(1000 + i),
            QString(),
            QStringLiteral("80"),
            QStringLiteral("1200,E,7,1"),
            QStringLiteral("ATZ"),
            QStringLiteral("ATDT"),
            QString(),
            QString(),
            QStringLiteral("0"),
            QString(),
            QString(),
            QString(),
            QString(),
            QString(),
            QStringLiteral("Benchmark message number %1").arg(i)};
}

void makeQueue(const QString& root) {
    QDir d(root);
    for (const char* s : {"queue/PENDING", "queue/SENT", "queue/FAILED"}) {
        d.mkpath(QString::fromLatin1(s));
    }
}

void writeFiles(const QString& queue) {
    for (int i = 0; i < kFiles; ++i) {
        text::writeLines(
            QDir(queue).filePath(QStringLiteral("A%1.PMF").arg(i, 5, 10, QLatin1Char('0'))),
            queueLines(i));
    }
}

void prepareStore(const QString& dir, const QVariant& expireDays = {}) {
    configstore::createNew(QDir(dir).filePath(configstore::kFileName),
                           QDir(dir).filePath(QStringLiteral("queue")));
    auto db = configstore::open(dir);
    db->execute(QStringLiteral("delete from tblModems"));
    db->execute(QStringLiteral("insert into tblModems (ComPort) values ('COM1')"));
    db->execute(QStringLiteral("update tblConfig set CheckTime=0, PMFExpireDays=?"), {expireDays});
}

// `count` sent files of one day old: kept, none due.
void fillSent(const QString& dir, int count) {
    const QString sent = QDir(dir).filePath(QStringLiteral("queue/SENT"));
    const QByteArray body = queueLines(1).join(QStringLiteral("\r\n")).toLatin1();
    const QDateTime dayOld = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < count; ++i) {
        QFile f(QDir(sent).filePath(QStringLiteral("A%1.PMF").arg(i, 6, 10, QLatin1Char('0'))));
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
            return;
        }
        f.write(body);
        f.setFileTime(dayOld, QFileDevice::FileModificationTime);
    }
}

struct CheckTimes {
    double first = 0;   // seconds
    double steady = 0;  // median of the later checks
};

CheckTimes checkTimes(int kept) {
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    makeQueue(dir);
    prepareStore(dir, 30);
    fillSent(dir, kept);
    VirtualEventLoop loop(QDateTime::currentDateTime());
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    NullView view;
    TerminalBell bell;
    AlertMailer mailer;
    MonitorCore::Options o;
    o.workingDir = dir;
    MonitorCore core(loop, dialogs, launcher, view, bell, mailer, o);
    if (!core.start()) {
        std::fprintf(stderr, "start-up failed\n");
        return {};
    }
    core.timer1().stop();
    CheckTimes out;
    QElapsedTimer t;
    t.start();
    core.Timer1_Timer();
    out.first = t.nsecsElapsed() / 1e9;
    std::vector<double> later;
    for (int i = 0; i < 9; ++i) {
        loop.advance(6);
        t.restart();
        core.Timer1_Timer();
        later.push_back(t.nsecsElapsed() / 1e9);
    }
    std::sort(later.begin(), later.end());
    out.steady = later[later.size() / 2];
    core.Form_Unload(false);
    return out;
}

double intake() {
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    makeQueue(dir);
    QDir(dir).mkpath(QStringLiteral("sys"));
    QFile f(QDir(dir).filePath(QStringLiteral("sys/calvex")));
    f.open(QIODevice::WriteOnly);
    f.close();
    qputenv("VANTREL_SYSTEM_DIR", QDir(dir).filePath(QStringLiteral("sys")).toLocal8Bit());
    prepareStore(dir);
    writeFiles(QDir(dir).filePath(QStringLiteral("queue")));

    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    NullView view;
    TerminalBell bell;
    AlertMailer mailer;
    MonitorCore::Options o;
    o.workingDir = dir;
    MonitorCore core(loop, dialogs, launcher, view, bell, mailer, o);
    if (!core.start()) {
        std::fprintf(stderr, "start-up failed\n");
        return 0;
    }
    core.timer1().stop();
    QElapsedTimer t;
    t.start();
    core.Timer1_Timer();
    const double secs = t.nsecsElapsed() / 1e9;
    const int pending = static_cast<int>(
        QDir(QDir(dir).filePath(QStringLiteral("queue/PENDING"))).entryList(QDir::Files).size());
    const int accepted = core.pager()->QueueCount();
    if (pending != kFiles || accepted != kFiles) {
        std::fprintf(stderr, "intake incomplete: %d pending, %d accepted\n", pending, accepted);
    }
    core.Form_Unload(false);
    qunsetenv("VANTREL_SYSTEM_DIR");
    return kFiles / secs;
}

double baseline() {
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    makeQueue(dir);
    const QString queue = QDir(dir).filePath(QStringLiteral("queue"));
    writeFiles(queue);
    sqlite3* db = nullptr;
    sqlite3_open(QDir(dir).filePath(QStringLiteral("base.db")).toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "create table tblLog (ID integer primary key autoincrement, Status int, "
                 "StatusDescription text, Type text, Sender text, Department text, Recipient text, "
                 "SentTime text, TAPPhoneNumber text, TAPPIN text, TAPPassword text, "
                 "MaximumCharacters int, COMPortSetting text, ModemInitString text, "
                 "ModemDialString text, EMailAddress text, SMTPServer text, ReverseOrder int, "
                 "UniqueID text, Message text)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db,
        "insert into tblLog (Status, StatusDescription, Type, Sender, Department, "
        "Recipient, SentTime, TAPPhoneNumber, TAPPIN, TAPPassword, MaximumCharacters, "
        "COMPortSetting, ModemInitString, ModemDialString, EMailAddress, SMTPServer, "
        "ReverseOrder, UniqueID, Message) values "
        "(0,'PENDING','TAP','U','D','R','2026-07-15 10:30:00','5550001','1001','',80,"
        "'1200,E,7,1','ATZ','ATDT','','',0,?,?)",
        -1, &st, nullptr);
    const QStringList names = QDir(queue).entryList(QDir::Files, QDir::Name);
    QElapsedTimer t;
    t.start();
    for (const QString& n : names) {
        const QByteArray name = n.toUtf8();
        sqlite3_bind_text(st, 1, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, "Benchmark message", -1, SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_reset(st);
        QFile::rename(QDir(queue).filePath(n),
                      QDir(queue).filePath(QStringLiteral("PENDING/") + n));
    }
    const double secs = t.nsecsElapsed() / 1e9;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return names.size() / secs;
}

bool cpuAndMemory(qint64 pid, double* cpuSeconds, long* rssKb) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray s = stat.readAll();
    const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13) {
        return false;
    }
    *cpuSeconds = (f[11].toDouble() + f[12].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:")) {
                *rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
            }
        }
    }
    return true;
}

struct Idle {
    double cpuShare = 0;  // of one core
    double rssMiB = 0;
};

Idle idle(int seconds, int kept) {
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    makeQueue(dir);
    prepareStore(dir, 30);
    fillSent(dir, kept);
    QProcess p;
    p.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral(VTS_BIN_DIR "/vtsmonitor"), {});
    if (!p.waitForStarted(5000)) {
        std::fprintf(stderr, "vtsmonitor did not start\n");
        return {};
    }
    p.waitForFinished(8000);  // start-up (3-second window) and the first checks
    double cpu0 = 0, cpu1 = 0;
    long rss = 0;
    if (!cpuAndMemory(p.processId(), &cpu0, &rss)) {
        return {};
    }
    p.waitForFinished(seconds * 1000);
    if (!cpuAndMemory(p.processId(), &cpu1, &rss)) {
        return {};
    }
    p.terminate();
    p.waitForFinished(10000);
    return {(cpu1 - cpu0) / seconds, rss / 1024.0};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int idleSeconds = 60;
    std::vector<int> kept = {0, 10000, 100000};
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--idle-seconds"));
    if (at > 0 && at + 1 < args.size()) {
        idleSeconds = args.at(at + 1).toInt();
    }
    const qsizetype k = args.indexOf(QStringLiteral("--kept"));
    if (k > 0 && k + 1 < args.size()) {
        kept.clear();
        for (const QString& n : args.at(k + 1).split(QLatin1Char(','))) {
            kept.push_back(n.toInt());
        }
    }

    // Disk flushes dominate both and vary from run to run: best of three each,
    // interleaved.
    double base = 0, ours = 0;
    for (int round = 0; round < 3; ++round) {
        base = std::max(base, baseline());
        ours = std::max(ours, intake());
    }
    std::printf(
        "intake: %d files in one check: %.0f files/s; baseline (bare SQLite inserts + renames): "
        "%.0f files/s; ratio %.2f\n",
        kFiles, ours, base, ours / base);

    std::vector<CheckTimes> checks;
    for (int n : kept) {
        checks.push_back(checkTimes(n));
    }
    std::printf("%-10s %14s %14s %12s\n", "kept files", "first check ms", "later check ms",
                "ratio later");
    for (size_t i = 0; i < kept.size(); ++i) {
        std::printf("%-10d %14.2f %14.3f %11.2fx\n", kept[i], checks[i].first * 1e3,
                    checks[i].steady * 1e3, checks[i].steady / checks[0].steady);
    }
    if (idleSeconds > 0) {
        std::vector<Idle> idles;
        for (int n : kept) {
            idles.push_back(idle(idleSeconds, n));
        }
        std::printf("%-10s %18s %12s %14s\n", "kept files", "idle CPU, % core", "ratio",
                    "resident MiB");
        for (size_t i = 0; i < kept.size(); ++i) {
            std::printf("%-10d %18.3f %11.2fx %14.1f\n", kept[i], idles[i].cpuShare * 100,
                        idles[i].cpuShare / std::max(1e-9, idles[0].cpuShare), idles[i].rssMiB);
        }
    }
    return 0;
}
