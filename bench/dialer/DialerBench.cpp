// Two measurements of calvex against pagesim.
//
// 1. Ten pages to one number over a simulated 1200 bit/s modem line: the
//    call's time on the line against the least time the same bytes need
//    (bytes x 10 bits / 1200, both directions, as the protocol waits for
//    each reply). Also checks that the batch took one call and one log-on.
// 2. Ten pages to one number over TAP/TCP, SNPP, WCTP, SMPP and SMTP on
//    loopback, and
//    one page as the baseline of the same run: pages per second (as a ratio
//    to TAP over TCP), the share of the run the dialer spends working rather
//    than waiting for the peer, what the dialer adds per page (its own
//    CPU time between one and ten pages) against the aim of 5 ms, and its
//    CPU per page of the ten-page run as a ratio to TAP over TCP.
#include <PortRecord.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <algorithm>
#include <cstdio>

namespace {

QString g_bin;

bool startSim(QProcess& sim, const QString& dir, const QStringList& extra) {
    sim.start(g_bin + QStringLiteral("/pagesim"),
              QStringList{QStringLiteral("--dir"), dir, QStringLiteral("--pages"),
                          dir + QStringLiteral("/pages.jsonl"), QStringLiteral("--calls"),
                          dir + QStringLiteral("/calls.jsonl")} +
                  extra);
    QByteArray out;
    while (!out.contains("ready\n")) {
        if (!sim.waitForReadyRead(5000)) {
            std::fprintf(stderr, "pagesim did not start\n");
            return false;
        }
        out += sim.readAllStandardOutput();
    }
    return true;
}

bool writeBatch(const QString& dir, int pages) {
    QList<vts::PortRecord> recs;
    for (int i = 1; i <= pages; ++i) {
        vts::PortRecord r;
        r.comPort = 1;
        r.phoneNumber = QStringLiteral("5551000");
        r.pin = QStringLiteral("%1").arg(1000000 + i);
        r.message =
            QStringLiteral(
                "Page %1 of the benchmark batch: the quick brown fox jumps over the lazy dog.")
                .arg(i);
        r.status = 1;
        r.timeout = 30;
        r.index = i;
        recs << r;
    }
    vts::PortRecord header = recs.last();
    header.index = pages;
    QByteArray file = header.encode();
    for (const auto& r : recs) {
        file += r.encode();
    }
    QFile pf(dir + QStringLiteral("/mordax1.dat"));
    return pf.open(QIODevice::WriteOnly) && pf.write(file) == file.size();
}

double childCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Run {
    bool ok = false;
    double wall = 0;  // seconds, whole calvex run
    double cpu = 0;   // seconds of calvex's own CPU time
};

// One calvex run; the simulator keeps running (its CPU time is not counted).
Run runDialer(const QString& dir, int pages) {
    Run r;
    if (!writeBatch(dir, pages)) {
        return r;
    }
    const double cpu0 = childCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QProcess dialer;
    dialer.setWorkingDirectory(dir);
    dialer.start(g_bin + QStringLiteral("/calvex"), {QStringLiteral(" 1")});
    if (!dialer.waitForFinished(120000)) {
        return r;
    }
    r.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    r.cpu = childCpuSeconds() - cpu0;
    r.ok = dialer.exitStatus() == QProcess::NormalExit && dialer.exitCode() == 0;
    return r;
}

int modemLine() {
    const int bps = 1200, pages = 10;
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    QFile scenario(dir + QStringLiteral("/scenario.txt"));
    if (!scenario.open(QIODevice::WriteOnly)) {
        return 2;
    }
    scenario.write(QStringLiteral("* slow=%1\n").arg(bps).toLatin1());
    scenario.close();
    QProcess sim;
    if (!startSim(sim, dir,
                  {QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--scenario"),
                   scenario.fileName()})) {
        return 2;
    }
    const Run run = runDialer(dir, pages);
    sim.terminate();
    sim.waitForFinished(5000);

    QFile callsFile(dir + QStringLiteral("/calls.jsonl"));
    if (!run.wall || !callsFile.open(QIODevice::ReadOnly)) {
        return 2;
    }
    const QList<QByteArray> lines = callsFile.readAll().trimmed().split('\n');
    const QJsonObject call = QJsonDocument::fromJson(lines.first()).object();
    const double seconds = call.value(QLatin1String("seconds")).toDouble();
    const qint64 bytes = call.value(QLatin1String("bytes_in")).toInteger() +
                         call.value(QLatin1String("bytes_out")).toInteger();
    const double minimum =
        static_cast<double>(bytes) * 10.0 / bps;  // the terminal adds no delay of its own
    const double ratio = seconds / minimum;
    const int calls = static_cast<int>(lines.size());
    const int logons = call.value(QLatin1String("logons")).toInt();
    const int accepted = call.value(QLatin1String("pages")).toInt();

    std::printf("modem at %d bit/s\n", bps);
    std::printf("  pages %d, calls %d, log-ons %d, accepted %d\n", pages, calls, logons, accepted);
    std::printf("  bytes on the line %lld, minimum %.3f s\n", static_cast<long long>(bytes),
                minimum);
    std::printf("  time on the line %.3f s, ratio to minimum %.3f (aim <= 1.20)\n", seconds, ratio);
    std::printf("  whole dialer run %.3f s (ratio %.3f; includes modem set-up and hang-up)\n",
                run.wall, run.wall / minimum);
    const bool ok = calls == 1 && logons == 1 && accepted == pages && ratio <= 1.2 && run.ok;
    std::printf("  %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

// Ten pages and one page over a network kind; the one-page run is the
// baseline that holds what does not grow with the batch (start-up,
// connecting, logging on).
bool networkKind(const char* name, const char* option, double* baselinePagesPerSecond,
                 double* baselineCpuPerPage) {
    constexpr int kPages = 10;
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    // The mail kind needs its address pattern; pagesim adds [ports].
    QFile ini(dir + QStringLiteral("/calvex.ini"));
    if (!ini.open(QIODevice::WriteOnly) || ini.write("[smtp]\nto={pin}@pager.example.org\n") < 0) {
        return false;
    }
    ini.close();
    QProcess sim;
    if (!startSim(sim, dir, {QString::fromLatin1(option), QStringLiteral("1")})) {
        return false;
    }
    // Warm the caches once, then take the median of several runs of each
    // size: the machine is shared, so single runs are noisy.
    runDialer(dir, 1);
    constexpr int kRounds = 9;
    QList<Run> ones, tens;
    for (int round = 0; round < kRounds; ++round) {
        const Run a = runDialer(dir, 1), b = runDialer(dir, kPages);
        if (!a.ok || !b.ok) {
            sim.terminate();
            sim.waitForFinished(5000);
            std::printf("%s: a run failed\n", name);
            return false;
        }
        ones << a;
        tens << b;
    }
    sim.terminate();
    sim.waitForFinished(5000);
    auto median = [](QList<Run> runs, double Run::*field) {
        std::sort(runs.begin(), runs.end(),
                  [field](const Run& x, const Run& y) { return x.*field < y.*field; });
        return runs[runs.size() / 2].*field;
    };
    Run one, ten;
    one.wall = median(ones, &Run::wall);
    one.cpu = median(ones, &Run::cpu);
    ten.wall = median(tens, &Run::wall);
    ten.cpu = median(tens, &Run::cpu);
    const double perPageWall = (ten.wall - one.wall) / (kPages - 1) * 1000.0;
    const double perPageCpu = (ten.cpu - one.cpu) / (kPages - 1) * 1000.0;
    const double pagesPerSecond = kPages / ten.wall;
    // The dialer's own work as a share of its run; the rest is waiting for
    // the peer (and for the system to start the process).
    const double busyShare = ten.cpu / ten.wall;
    if (*baselinePagesPerSecond <= 0) {
        *baselinePagesPerSecond = pagesPerSecond;
        *baselineCpuPerPage = ten.cpu / kPages;
    }
    std::printf("%s\n", name);
    std::printf("  10 pages in %.1f ms, one page in %.1f ms (medians of %d runs)\n",
                ten.wall * 1000, one.wall * 1000, kRounds);
    std::printf("  %.0f pages/s for the whole run (ratio to TAP over TCP %.2f)\n", pagesPerSecond,
                pagesPerSecond / *baselinePagesPerSecond);
    std::printf("  share of the run outside waiting for the peer: %.0f %%\n", busyShare * 100);
    std::printf(
        "  per added page: dialer CPU %.2f ms (aim < 5 ms), wall %.2f ms (with the peer's "
        "reply; noisy on a shared machine)\n",
        perPageCpu, perPageWall);
    // The whole run's CPU shared out over its pages (start-up and the
    // connection included): steadier than the difference above.
    std::printf("  dialer CPU per page of the 10-page run: %.2f ms (ratio to TAP over TCP %.2f)\n",
                ten.cpu / kPages * 1000.0, ten.cpu / kPages / *baselineCpuPerPage);
    const bool ok = perPageCpu < 5.0;
    std::printf("  %s\n", ok ? "PASS" : "FAIL");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    g_bin = QCoreApplication::applicationDirPath();
    const int modem = modemLine();
    double baseline = 0, baselineCpu = 0;
    bool ok = modem == 0;
    for (const auto& [name, option] :
         {std::pair{"TAP over TCP", "--tcp"}, std::pair{"SNPP", "--snpp"},
          std::pair{"WCTP", "--wctp"}, std::pair{"SMPP", "--smpp"}, std::pair{"SMTP", "--smtp"}}) {
        ok = networkKind(name, option, &baseline, &baselineCpu) && ok;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
