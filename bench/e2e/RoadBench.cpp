// bench_road [--bin DIR] [--only latency|burst|modem] [--latency-pages N]
//            [--burst-pages N] [--numbers N] [--modem-pages N]
// The whole road of a page, timed end to end: a queue file written the way
// vtspage writes it, a real headless vtsmonitor (with libkrx.so and calvex)
// and pagesim's paging terminals. Each figure has a baseline measured in the
// same run: calvex alone delivering the same batches straight from port
// files, or the least time the bytes need on the line.
//
// 1. latency: single pages at random moments (0.2 to 3 s apart) on an idle
//    server with two TAP-over-TCP ports; the time from the file's
//    appearance in the queue folder to the page's arrival at the paging
//    terminal, median and 95th percentile, against one calvex run of one
//    page.
// 2. burst: 1,000 pages to 50 numbers published at once in the queue folder
//    of an idle server, over 2 and over 8 TAP-over-TCP ports: pages per
//    second until the last page is at the terminal and in SENT, median and
//    95th percentile of the pages' latencies, against calvex alone delivering
//    one batch per number on as many ports in parallel.
// 3. modem: 200 pages to 10 numbers over two simulated modems at 9600
//    bit/s: the road's time against the line minimum per port (the bytes
//    both ways at 10 bits each, shared by the two lines), and calvex alone
//    on the same batches against the same minimum.
// Every run checks that each page reached the terminal exactly once.
#include "PortRecord.h"
#include "QueueFile.h"
#include "QueueFileWriter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

QString g_bin;

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(g_bin + u'/' + program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool sql(const QString& dir, const QString& statement) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(dir + QStringLiteral("/VTSCFG.MDB")).constData(),
                           &db) == SQLITE_OK;
    ok = ok &&
         sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// pagesim with its terminals; it writes calvex.ini for the ports it serves.
class Sim {
public:
    bool start(const QString& dir, const QStringList& extra) {
        m_pages = dir + QStringLiteral("/pages.jsonl");
        m_calls = dir + QStringLiteral("/calls.jsonl");
        m_proc.start(g_bin + QStringLiteral("/pagesim"),
                     QStringList{QStringLiteral("--dir"), dir, QStringLiteral("--pages"), m_pages,
                                 QStringLiteral("--calls"), m_calls} +
                         extra);
        QByteArray out;
        QDeadlineTimer ready(10000);
        while (!out.contains("ready\n") && !ready.hasExpired()) {
            m_proc.waitForReadyRead(200);
            out += m_proc.readAllStandardOutput();
        }
        return out.contains("ready\n");
    }
    ~Sim() {
        m_proc.terminate();
        m_proc.waitForFinished(5000);
    }
    // Texts received so far, with the time each arrived (ms since the epoch).
    QHash<QString, std::vector<qint64>> received() const {
        QHash<QString, std::vector<qint64>> got;
        QFile f(m_pages);
        if (!f.open(QIODevice::ReadOnly)) return got;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.isEmpty()) continue;
            got[o.value(QLatin1String("text")).toString()].push_back(
                QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch());
        }
        return got;
    }
    // Bytes both ways over all calls so far.
    qint64 lineBytes() const {
        qint64 bytes = 0;
        QFile f(m_calls);
        if (!f.open(QIODevice::ReadOnly)) return 0;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            bytes += o.value(QLatin1String("bytes_in")).toInteger() +
                     o.value(QLatin1String("bytes_out")).toInteger();
        }
        return bytes;
    }

private:
    QProcess m_proc;
    QString m_pages, m_calls;
};

struct Page {
    QString phone, pin, text;
};

vts::QueueMessage message(const Page& p) {
    vts::QueueMessage m;
    m.computer = QStringLiteral("BENCH");
    m.sender = QStringLiteral("bench");
    m.sentTime = QDateTime::currentDateTime();
    m.tapPhoneNumber = p.phone;
    m.tapPin = p.pin;
    m.serialSettings = QStringLiteral("1200,E,7,1");
    m.modemInit = QStringLiteral("ATZ");
    m.modemDial = QStringLiteral("ATDT");
    m.message = p.text;
    return m;
}

std::vector<Page> pages(const QString& tag, int count, int numbers) {
    std::vector<Page> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({QStringLiteral("555%1").arg(1000 + i % numbers),
                       QStringLiteral("%1").arg(100000 + i),
                       QStringLiteral("%1 page %2 of the road benchmark").arg(tag).arg(i)});
    }
    return out;
}

// A headless vtsmonitor over a working directory made by vtsinit, its
// modem table holding COM1..COMn and calvex.ini written by pagesim.
class Server {
public:
    bool prepare(const QString& dir, int ports) {
        m_dir = dir;
        if (!run(QStringLiteral("vtsinit"), {dir})) return false;
        QString modems = QStringLiteral("delete from tblModems;");
        for (int com = 1; com <= ports; ++com) {
            modems += QStringLiteral("insert into tblModems (ComPort) values ('COM%1');").arg(com);
        }
        return sql(dir, modems) &&
               sql(dir, QStringLiteral("update tblConfig set PageFailAlert=0, ModemFailAlert=0, "
                                       "AudioAlert=0, VisualAlert=0"));
    }
    // Starts the server and lets it become idle (its start-up over, its
    // first checks done).
    bool start(double idleSeconds) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_proc.setProcessEnvironment(env);
        m_proc.setWorkingDirectory(m_dir);
        m_proc.setStandardOutputFile(m_dir + QStringLiteral("/status.txt"));
        m_proc.start(g_bin + QStringLiteral("/vtsmonitor"), {});
        if (!m_proc.waitForStarted(10000)) return false;
        m_proc.waitForFinished(static_cast<int>(idleSeconds * 1000));
        return m_proc.state() == QProcess::Running;
    }
    ~Server() {
        m_proc.terminate();
        m_proc.waitForFinished(60000);
    }
    QString queue() const { return m_dir + QStringLiteral("/QUEUE"); }
    qsizetype sent() const {
        return QDir(m_dir + QStringLiteral("/QUEUE/SENT")).entryList(QDir::Files).size();
    }
    bool running() const { return m_proc.state() == QProcess::Running; }

private:
    QString m_dir;
    QProcess m_proc;
};

// One calvex run over port p's file holding `batch`; false when it failed.
bool dialerRun(const QString& dir, int p, int com, const std::vector<Page>& batch) {
    QByteArray file;
    vts::PortRecord header;
    QList<vts::PortRecord> recs;
    for (size_t i = 0; i < batch.size(); ++i) {
        vts::PortRecord r;
        r.comPort = static_cast<std::int16_t>(com);
        r.phoneNumber = batch[i].phone;
        r.pin = batch[i].pin;
        r.message = batch[i].text;
        r.comSettings = QStringLiteral("1200,E,7,1");
        r.modemInitString = QStringLiteral("ATZ");
        r.modemDialString = QStringLiteral("ATDT");
        r.status = 1;
        r.timeout = 60;
        r.index = static_cast<std::int16_t>(i + 1);
        recs << r;
    }
    header = recs.last();
    header.index = static_cast<std::int16_t>(recs.size());
    file = header.encode();
    for (const auto& r : recs) file += r.encode();
    QFile pf(dir + QStringLiteral("/mordax%1.dat").arg(p));
    if (!pf.open(QIODevice::WriteOnly) || pf.write(file) != file.size()) return false;
    pf.close();
    QProcess dialer;
    dialer.setWorkingDirectory(dir);
    dialer.start(g_bin + QStringLiteral("/calvex"), {QStringLiteral(" %1").arg(p)});
    return dialer.waitForFinished(300000) && dialer.exitStatus() == QProcess::NormalExit;
}

// calvex alone: `batches` shared out over `ports` ports, each port running
// its batches one after the other, all ports at once. Seconds, or -1.
double dialerAlone(const QString& dir, int ports, const std::vector<std::vector<Page>>& batches) {
    QFile::copy(dir + QStringLiteral("/../calvex.ini"), dir + QStringLiteral("/calvex.ini"));
    std::vector<std::unique_ptr<QThread>> threads;
    std::atomic<bool> ok{true};
    QElapsedTimer clock;
    clock.start();
    for (int p = 1; p <= ports; ++p) {
        threads.emplace_back(QThread::create([&, p] {
            for (size_t b = static_cast<size_t>(p - 1); b < batches.size();
                 b += static_cast<size_t>(ports)) {
                if (!dialerRun(dir, p, p, batches[b])) ok = false;
            }
        }));
        threads.back()->start();
    }
    for (auto& t : threads) t->wait();
    return ok ? static_cast<double>(clock.nsecsElapsed()) / 1e9 : -1;
}

std::vector<std::vector<Page>> byNumber(const std::vector<Page>& all) {
    std::vector<std::vector<Page>> batches;
    QHash<QString, size_t> index;
    for (const Page& p : all) {
        if (!index.contains(p.phone)) {
            index.insert(p.phone, batches.size());
            batches.emplace_back();
        }
        batches[index.value(p.phone)].push_back(p);
    }
    return batches;
}

// Each page of `all` arrived exactly once.
bool exactlyOnce(const Sim& sim, const std::vector<Page>& all, int* lost, int* doubled) {
    const auto got = sim.received();
    *lost = *doubled = 0;
    for (const Page& p : all) {
        const auto n = got.value(p.text).size();
        if (n == 0) ++*lost;
        if (n > 1) ++*doubled;
    }
    return *lost == 0 && *doubled == 0;
}

bool latency(int count) {
    QTemporaryDir tmp;
    Sim sim;
    if (!sim.start(tmp.path(), {QStringLiteral("--tcp"), QStringLiteral("1,2")})) return false;
    // Baseline: calvex alone, one page per run.
    const QString alone = tmp.path() + QStringLiteral("/alone");
    QDir().mkpath(alone);
    QFile::copy(tmp.path() + QStringLiteral("/calvex.ini"), alone + QStringLiteral("/calvex.ini"));
    std::vector<double> baseline;
    for (const Page& p : pages(QStringLiteral("D"), count, 1)) {
        QElapsedTimer c;
        c.start();
        if (!dialerRun(alone, 1, 1, {p})) return false;
        baseline.push_back(static_cast<double>(c.nsecsElapsed()) / 1e9);
    }

    Server server;
    if (!server.prepare(tmp.path() + QStringLiteral("/w"), 2) ||
        !QFile::copy(tmp.path() + QStringLiteral("/calvex.ini"),
                     tmp.path() + QStringLiteral("/w/calvex.ini")) ||
        !server.start(12)) {
        return false;
    }
    vts::QueueFileWriter writer(server.queue());
    const std::vector<Page> all = pages(QStringLiteral("S"), count, 7);
    std::vector<double> road;
    for (const Page& p : all) {
        QThread::msleep(200 + QRandomGenerator::global()->bounded(2800));
        const qint64 dropped = QDateTime::currentMSecsSinceEpoch();
        if (writer.write(message(p)).isEmpty()) return false;
        QDeadlineTimer dl(120000);
        qint64 at = -1;
        while (at < 0 && !dl.hasExpired()) {
            QThread::msleep(10);
            const auto got = sim.received().value(p.text);
            if (!got.empty()) at = got.front();
        }
        if (at < 0) return false;
        road.push_back(static_cast<double>(at - dropped) / 1000.0);
    }
    QDeadlineTimer dl(60000);
    while (server.sent() < count && !dl.hasExpired()) QThread::msleep(20);
    int lost = 0, doubled = 0;
    const bool once = exactlyOnce(sim, all, &lost, &doubled);
    std::printf("single page, 2 TCP ports, %d pages at random moments\n", count);
    std::printf("  road:   median %.3f s, p95 %.3f s (aim: median <= 1 s, p95 <= 2 s)\n",
                quantile(road, 0.5), quantile(road, 0.95));
    std::printf("  calvex alone: median %.3f s; ratio road/alone %.1f\n", quantile(baseline, 0.5),
                quantile(road, 0.5) / quantile(baseline, 0.5));
    std::printf("  lost %d, doubled %d\n", lost, doubled);
    return once;
}

bool burst(int count, int numbers, int ports) {
    QTemporaryDir tmp;
    Sim sim;
    QStringList coms;
    for (int c = 1; c <= ports; ++c) coms << QString::number(c);
    if (!sim.start(tmp.path(), {QStringLiteral("--tcp"), coms.join(u',')})) return false;
    const QString alone = tmp.path() + QStringLiteral("/alone");
    QDir().mkpath(alone);
    const std::vector<Page> base = pages(QStringLiteral("D%1").arg(ports), count, numbers);
    const double aloneSeconds = dialerAlone(alone, ports, byNumber(base));

    Server server;
    if (!server.prepare(tmp.path() + QStringLiteral("/w"), ports) ||
        !QFile::copy(tmp.path() + QStringLiteral("/calvex.ini"),
                     tmp.path() + QStringLiteral("/w/calvex.ini")) ||
        !server.start(12)) {
        return false;
    }
    const std::vector<Page> all = pages(QStringLiteral("S%1").arg(ports), count, numbers);
    QList<vts::QueueMessage> files;
    for (const Page& p : all) files << message(p);
    // The writer forces every file to the disk first, then publishes all
    // the names at once: the clock starts when it is done.
    if (vts::QueueFileWriter(server.queue()).writeAll(files).size() != count) return false;
    const qint64 dropped = QDateTime::currentMSecsSinceEpoch();
    QElapsedTimer clock;
    clock.start();
    QDeadlineTimer dl(900000);
    while ((server.sent() < count || sim.received().size() < count) && !dl.hasExpired() &&
           server.running()) {
        QThread::msleep(50);
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    int lost = 0, doubled = 0;
    const bool once = exactlyOnce(sim, all, &lost, &doubled);
    std::vector<double> lat;
    const auto got = sim.received();
    for (const Page& p : all) {
        const auto v = got.value(p.text);
        if (!v.empty())
            lat.push_back(std::max<double>(0, static_cast<double>(v.front() - dropped) / 1000.0));
    }
    std::printf("%d pages to %d numbers over %d TCP ports\n", count, numbers, ports);
    if (qEnvironmentVariableIsSet("BENCH_ROAD_SHAPE")) {
        // Pages at the terminal in each second after the drop.
        std::vector<int> perSecond;
        for (const double l : lat) {
            const auto s = static_cast<size_t>(std::max(0.0, l));
            if (perSecond.size() <= s) perSecond.resize(s + 1);
            ++perSecond[s];
        }
        std::printf("  per second:");
        for (const int n : perSecond) std::printf(" %d", n);
        std::printf("\n");
    }
    std::printf("  road:   %.2f s, %.1f pages/s; latency median %.2f s, p95 %.2f s\n", seconds,
                count / seconds, quantile(lat, 0.5), quantile(lat, 0.95));
    std::printf("  calvex alone (one batch per number): %.2f s, %.0f pages/s; ratio %.1f\n",
                aloneSeconds, count / aloneSeconds, seconds / aloneSeconds);
    std::printf("  lost %d, doubled %d\n", lost, doubled);
    return once && aloneSeconds > 0;
}

bool modem(int count, int numbers) {
    constexpr int kBps = 9600, kPorts = 2;
    QTemporaryDir tmp;
    QFile scenario(tmp.path() + QStringLiteral("/scenario.txt"));
    if (!scenario.open(QIODevice::WriteOnly)) return false;
    scenario.write(QByteArray("* slow=") + QByteArray::number(kBps) + '\n');
    scenario.close();
    const std::vector<Page> base = pages(QStringLiteral("MD"), count, numbers);
    const std::vector<Page> all = pages(QStringLiteral("MS"), count, numbers);
    double aloneSeconds = 0, aloneMinimum = 0;
    {
        Sim sim;
        if (!sim.start(tmp.path() + QStringLiteral("/a"),
                       {QStringLiteral("--ports"), QStringLiteral("1,2"),
                        QStringLiteral("--scenario"), scenario.fileName()})) {
            return false;
        }
        const QString alone = tmp.path() + QStringLiteral("/a/alone");
        QDir().mkpath(alone);
        aloneSeconds = dialerAlone(alone, kPorts, byNumber(base));
        aloneMinimum = static_cast<double>(sim.lineBytes()) * 10.0 / kBps / kPorts;
    }
    Sim sim;
    if (!sim.start(tmp.path() + QStringLiteral("/s"),
                   {QStringLiteral("--ports"), QStringLiteral("1,2"), QStringLiteral("--scenario"),
                    scenario.fileName()})) {
        return false;
    }
    Server server;
    if (!server.prepare(tmp.path() + QStringLiteral("/s/w"), kPorts) ||
        !QFile::copy(tmp.path() + QStringLiteral("/s/calvex.ini"),
                     tmp.path() + QStringLiteral("/s/w/calvex.ini")) ||
        !server.start(12)) {
        return false;
    }
    QList<vts::QueueMessage> files;
    for (const Page& p : all) files << message(p);
    if (vts::QueueFileWriter(server.queue()).writeAll(files).size() != count) return false;
    QElapsedTimer clock;
    clock.start();
    QDeadlineTimer dl(1800000);
    while ((server.sent() < count || sim.received().size() < count) && !dl.hasExpired() &&
           server.running()) {
        QThread::msleep(100);
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double minimum = static_cast<double>(sim.lineBytes()) * 10.0 / kBps / kPorts;
    int lost = 0, doubled = 0;
    const bool once = exactlyOnce(sim, all, &lost, &doubled);
    std::printf("%d pages to %d numbers over 2 modems at %d bit/s\n", count, numbers, kBps);
    std::printf("  road:   %.1f s, line minimum per port %.1f s, ratio %.2f\n", seconds, minimum,
                seconds / minimum);
    std::printf("  calvex alone: %.1f s, line minimum per port %.1f s, ratio %.2f\n", aloneSeconds,
                aloneMinimum, aloneSeconds / aloneMinimum);
    std::printf("  lost %d, doubled %d\n", lost, doubled);
    return once && aloneSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    g_bin = QCoreApplication::applicationDirPath();
    QString only;
    int latencyPages = 20, burstPages = 1000, numbers = 50, modemPages = 200;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        const QString& a = args[i];
        const QString& v = args[i + 1];
        if (a == QLatin1String("--bin"))
            g_bin = v;
        else if (a == QLatin1String("--only"))
            only = v;
        else if (a == QLatin1String("--latency-pages"))
            latencyPages = v.toInt();
        else if (a == QLatin1String("--burst-pages"))
            burstPages = v.toInt();
        else if (a == QLatin1String("--numbers"))
            numbers = v.toInt();
        else if (a == QLatin1String("--modem-pages"))
            modemPages = v.toInt();
    }
    bool ok = true;
    auto part = [&](const char* name, const std::function<bool()>& fn) {
        if (!only.isEmpty() && only != QLatin1String(name)) return;
        const bool good = fn();
        std::printf("  %s: %s\n", name, good ? "done" : "FAILED");
        std::fflush(stdout);
        ok = good && ok;
    };
    part("latency", [&] { return latency(latencyPages); });
    part("burst", [&] { return burst(burstPages, numbers, 2) && burst(burstPages, numbers, 8); });
    part("modem", [&] { return modem(modemPages, 10); });
    return ok ? 0 : 1;
}
