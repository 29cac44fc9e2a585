// Ten pages to one number through pagesim on a simulated 1200 bit/s line:
// the call's time on the line against the least time the same bytes need
// (bytes x 10 bits / 1200, both directions, as the protocol waits for each
// reply). Also checks that the batch took one call and one log-on.
#include <PortRecord.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
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
    sim.start(
        bin + QStringLiteral("/pagesim"),
        {QStringLiteral("--dir"), dir, QStringLiteral("--ports"), QStringLiteral("1"),
         QStringLiteral("--pages"), dir + QStringLiteral("/pages.jsonl"), QStringLiteral("--calls"),
         dir + QStringLiteral("/calls.jsonl"), QStringLiteral("--scenario"), scenario.fileName()});
    QByteArray out;
    while (!out.contains("ready\n")) {
        if (!sim.waitForReadyRead(5000)) {
            std::fprintf(stderr, "pagesim did not start\n");
            return 2;
        }
        out += sim.readAllStandardOutput();
    }

    QByteArray file;
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
    file = header.encode();
    for (const auto& r : recs) {
        file += r.encode();
    }
    QFile pf(dir + QStringLiteral("/mordax1.dat"));
    if (!pf.open(QIODevice::WriteOnly)) {
        return 2;
    }
    pf.write(file);
    pf.close();

    QElapsedTimer wall;
    wall.start();
    QProcess dialer;
    dialer.setWorkingDirectory(dir);
    dialer.start(bin + QStringLiteral("/calvex"), {QStringLiteral(" 1")});
    if (!dialer.waitForFinished(120000)) {
        return 2;
    }
    const double wallSeconds = static_cast<double>(wall.elapsed()) / 1000.0;
    sim.terminate();
    sim.waitForFinished(5000);

    QFile callsFile(dir + QStringLiteral("/calls.jsonl"));
    if (!callsFile.open(QIODevice::ReadOnly)) {
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

    std::printf("pages %d, calls %d, log-ons %d, accepted %d\n", pages, calls, logons, accepted);
    std::printf("bytes on the line %lld, minimum %.3f s at %d bit/s\n",
                static_cast<long long>(bytes), minimum, bps);
    std::printf("time on the line %.3f s, ratio to minimum %.3f (aim <= 1.20)\n", seconds, ratio);
    std::printf("whole dialer run %.3f s (ratio %.3f; includes modem set-up and hang-up)\n",
                wallSeconds, wallSeconds / minimum);
    const bool ok =
        calls == 1 && logons == 1 && accepted == pages && ratio <= 1.2 && dialer.exitCode() == 0;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
