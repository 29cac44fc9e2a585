// The cost of one queue file against the size of the sent folder: the
// writer picks a name unused in the queue folder and its three subfolders,
// which must not grow with the thousands of files the server keeps there.
// Prints milliseconds per page with SENT empty (the baseline of this run)
// and with 20,000 and 60,000 files, and each as a ratio to the baseline.
//
// usage: bench_gateway_sent [pages per round, default 200]
#include "QueueFileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

double msPerPage(const QString& queue, int pages) {
    vts::QueueMessage page;
    page.method = QStringLiteral("TAP");
    page.recipient = QStringLiteral("BOB");
    page.tapPhoneNumber = QStringLiteral("5551234");
    page.tapPin = QStringLiteral("1001");
    page.message = QStringLiteral("bench");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < pages; ++i) {
        // A fresh writer per page, as the gateway makes one per page.
        vts::QueueFileWriter writer(queue);
        const QString name = writer.write(page);
        if (name.isEmpty()) {
            std::fprintf(stderr, "write failed\n");
            return -1;
        }
        QFile::remove(QDir(queue).filePath(name));
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6 / pages;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    QTemporaryDir dir;
    const QString queue = dir.filePath(QStringLiteral("QUEUE"));
    for (const char* sub : {"PENDING", "SENT", "FAILED"}) {
        QDir(queue).mkpath(QString::fromLatin1(sub));
    }
    const double base = msPerPage(queue, pages);
    std::printf("SENT empty: %.3f ms per page (baseline)\n", base);
    int made = 0;
    for (const int target : {20000, 60000}) {
        for (; made < target; ++made) {
            QFile f(QStringLiteral("%1/SENT/A20260101000000%2.PMF")
                        .arg(queue)
                        .arg(made, 8, 10, QLatin1Char('0')));
            f.open(QIODevice::WriteOnly);
        }
        const double ms = msPerPage(queue, pages);
        std::printf("SENT with %d files: %.3f ms per page, %.2fx the baseline\n", target, ms,
                    ms / base);
    }
    return 0;
}
