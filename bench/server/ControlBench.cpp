// bench_control [--pages N] [--stalled N]
// Delivery of N pages (default 200) by a real headless vtsmonitor through
// pagesim's paging terminals over TCP (four ports), timed from the server's
// start until every message file is in SENT: once with no control socket
// client, once with M clients (default 10) that asked to follow and never
// read. Both runs in the same invocation, in the same fresh setting;
// prints both times and the ratio (stalled / none).
#include "ConfigStore.h"
#include "Database.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString kBin = QStringLiteral(VTS_BIN_DIR);

bool run(const QString& program, const QStringList& args, const QString& cwd = QString()) {
    QProcess p;
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    p.start(kBin + u'/' + program, args);
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

// One delivery of `pages` pages with `stalled` non-reading followers; its
// time in seconds, or -1.
double delivery(int pages, int stalled) {
    QTemporaryDir tmp;
    const QString dir = tmp.path() + QStringLiteral("/w");
    if (!run(QStringLiteral("vtsinit"), {dir})) return -1;
    {
        auto db = vts::configstore::open(dir);
        db->execute(QStringLiteral("delete from tblModems"));
        for (int com = 1; com <= 4; ++com) {
            db->execute(QStringLiteral("insert into tblModems (ComPort) values (?)"),
                        {QStringLiteral("COM%1").arg(com)});
        }
        db->execute(
            QStringLiteral("update tblConfig set CheckTime=0, NumberOfRetries=0, "
                           "TimeOut=10, PageFailAlert=0, ModemFailAlert=0, "
                           "AudioAlert=0, VisualAlert=0"));
    }
    for (int i = 0; i < pages; ++i) {
        if (!run(QStringLiteral("vtspage"),
                 {QStringLiteral("--queue"), dir + QStringLiteral("/QUEUE"),
                  QStringLiteral("--phone"), QStringLiteral("55510%1").arg(i % 8),
                  QStringLiteral("--pin"), QStringLiteral("%1").arg(1000 + i),
                  QStringLiteral("Benchmark page %1").arg(i)})) {
            return -1;
        }
    }
    QProcess sim;
    sim.start(
        kBin + QStringLiteral("/pagesim"),
        {QStringLiteral("--dir"), tmp.path() + QStringLiteral("/sim"), QStringLiteral("--ini"),
         dir + QStringLiteral("/calvex.ini"), QStringLiteral("--tcp"), QStringLiteral("1,2,3,4")});
    QString seen;
    QDeadlineTimer ready(10000);
    while (!seen.contains(QStringLiteral("ready")) && !ready.hasExpired()) {
        sim.waitForReadyRead(100);
        seen += QString::fromLocal8Bit(sim.readAllStandardOutput());
    }
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    server.setProcessEnvironment(env);
    server.setWorkingDirectory(dir);
    server.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    server.start(kBin + QStringLiteral("/vtsmonitor"), {});
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    const QString socket = dir + QStringLiteral("/vtsmonitor.sock");
    QDeadlineTimer dl(600000);
    const QDir sent(dir + QStringLiteral("/QUEUE/SENT"));
    double seconds = -1;
    while (!dl.hasExpired() && server.state() != QProcess::NotRunning) {
        while (static_cast<int>(clients.size()) < stalled && QFileInfo::exists(socket)) {
            auto c = std::make_unique<QLocalSocket>();
            c->setReadBufferSize(1);
            c->connectToServer(socket);
            if (!c->waitForConnected(1000)) break;
            c->write("follow\n");
            c->flush();
            clients.push_back(std::move(c));
        }
        if (sent.entryList(QDir::Files).size() >= pages) {
            seconds = static_cast<double>(clock.elapsed()) / 1000.0;
            break;
        }
        server.waitForFinished(50);
    }
    server.terminate();
    server.waitForFinished(30000);
    sim.kill();
    sim.waitForFinished();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int pages = 200, stalled = 10;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--pages"))
            pages = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--stalled"))
            stalled = args[i + 1].toInt();
    }
    const double none = delivery(pages, 0);
    const double withStalled = delivery(pages, stalled);
    std::printf(
        "%d pages: %.2f s without socket clients, %.2f s with %d stalled ones; "
        "ratio %.3f\n",
        pages, none, withStalled, stalled, none > 0 ? withStalled / none : -1.0);
    return none > 0 && withStalled > 0 ? 0 : 1;
}
