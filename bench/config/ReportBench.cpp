// Report and purge benchmark: a log of N rows (100,000 by default); time and
// peak memory of a Normal report of every row to PDF and to CSV and of a
// purge of half the rows, each against a bare SQLite pass over the same rows
// in the same run; and the time of a page turn in the report window at page
// 1 and at page 1,000 (the next page, and a page seen before). Every task
// runs in a child process of its own so its peak resident size is its own.
//
//   reportbench [rows]
//   reportbench --fill DIR rows      (only makes the log and the layouts in
//                                     DIR, which must exist)

#include "Database.h"
#include "Dialogs.h"
#include "LogStore.h"
#include "PurgeLogic.h"
#include "ReportCanvas.h"
#include "ReportEngine.h"
#include "ReportLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

extern char** environ;

namespace {

void fillLog(const QString& dir, int rows) {
    vts::logstore::create(dir);
    auto database = vts::logstore::open(dir);
    sqlite3* h = database->handle();
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        h,
        "INSERT INTO tblLog (Status, StatusDescription, Type, Sender, Department, Recipient, "
        "SentTime, "
        "TAPPhoneNumber, TAPPIN, Message) VALUES (?, '', 'TAP', ?, ?, ?, ?, ?, ?, ?)",
        -1, &st, nullptr);
    static const char* senders[] = {"SMITH",   "JONES",  "ADAMS",  "MILLER",
                                    "O'BRIEN", "WILSON", "TAYLOR", "BROWN"};
    const QDateTime start(QDate(1998, 1, 1), QTime(0, 0));
    for (int i = 0; i < rows; ++i) {
        // Rows spread evenly over 1998, so the first half of the year is half the log.
        const QDateTime t = start.addSecs(static_cast<qint64>(i) * (365LL * 86400 / rows));
        const QByteArray sent = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
        const QByteArray recipient = QByteArray("RECIPIENT ") + QByteArray::number(i % 977);
        const QByteArray message = QByteArray("Please call the front desk about order ") +
                                   QByteArray::number(i) +
                                   " before the end of the day; the customer is waiting.";
        sqlite3_bind_int(st, 1, 1 + i % 3);
        sqlite3_bind_text(st, 2, senders[i % 8], -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 3, i % 2 ? "SALES" : "SUPPORT", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 4, recipient.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, sent.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 6, "5551234", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 7, "123456", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 8, message.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    database->close();
    vts::report::installDefaultLayouts(dir);
}

// Draws nothing: moves through pages as fast as the rows can be read.
class NullCanvas final : public vts::report::PageCanvas {
public:
    void setFont(Face, double) override {}
    void text(double, double, const QString&) override {}
    void line(double, double, double, double) override {}
};

// One page drawn as the report window draws it; its time in seconds.
double showPage(const vts::report::ReportDocument& doc, int page,
                const vts::report::PageStart& start, std::optional<vts::report::PageStart>* next) {
    QElapsedTimer t;
    t.start();
    const double scale = 96.0 / 72.0;
    QImage image(qRound(doc.pageSize().width() * scale), qRound(doc.pageSize().height() * scale),
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
    *next = doc.renderPage(p, page, start);
    p.end();
    return t.nsecsElapsed() / 1e9;
}

// Page turns in the report window at page 1 and at page 1,000: the next
// page (the window continues the rows) and a page seen before (found again
// by its place in the sort order). Writes four times in seconds to pages.txt.
int pageTurns(const QString& dir) {
    vts::report::ReportEngine engine(dir);
    engine.setReportFileName(QStringLiteral("svrrpt1.rpt"));
    engine.setDataFile(0, QStringLiteral("VTSLog.MDB"));
    engine.setSortField(0, QStringLiteral("+{tblLog.Sender}"));
    const auto doc = engine.prepare();
    std::vector<vts::report::PageStart> starts{vts::report::PageStart{}};
    std::optional<vts::report::PageStart> next;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto turnsAt = [&](int page, double* forward, double* revisit) {
        // Walk (without drawing) to `page`, then draw it and the page after.
        NullCanvas null;
        while (static_cast<int>(starts.size()) < page) {
            const auto n = doc->renderPage(null, static_cast<int>(starts.size()), starts.back());
            if (!n) {
                return false;
            }
            starts.push_back(*n);
        }
        std::vector<double> f, r;
        for (int round = 0; round < 5; ++round) {
            showPage(*doc, page, starts[page - 1], &next);  // the window is at `page`
            if (!next) {
                return false;
            }
            f.push_back(showPage(*doc, page + 1, *next, &next));
            // Back to `page` from its remembered start (the window is elsewhere).
            r.push_back(showPage(*doc, page, starts[page - 1], &next));
        }
        *forward = median(f);
        *revisit = median(r);
        return true;
    };
    double f1 = 0, r1 = 0, f1000 = 0, r1000 = 0;
    if (!turnsAt(1, &f1, &r1) || !turnsAt(1000, &f1000, &r1000)) {
        std::fprintf(stderr, "the report has fewer than 1,001 pages\n");
        return 1;
    }
    QFile out(QDir(dir).filePath(QStringLiteral("pages.txt")));
    if (!out.open(QIODevice::WriteOnly)) {
        return 1;
    }
    out.write(QStringLiteral("%1 %2 %3 %4\n").arg(f1).arg(r1).arg(f1000).arg(r1000).toLatin1());
    return 0;
}

// The tasks, run in the child.
int runTask(const QString& task, const QString& dir) {
    QDir::setCurrent(dir);
    if (task == QLatin1String("query")) {
        // The same columns, order and text conversion the report needs, without drawing.
        auto database = vts::logstore::open(dir);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(database->handle(),
                           "SELECT SentTime, Status, Sender, Department, Recipient, "
                           "TAPPhoneNumber, TAPPIN, Message "
                           "FROM tblLog ORDER BY SentTime, ID",
                           -1, &st, nullptr);
        qint64 chars = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < 8; ++c) {
                chars +=
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)))
                        .size();
            }
        }
        sqlite3_finalize(st);
        std::printf("%lld\n", static_cast<long long>(chars));
        return 0;
    }
    if (task == QLatin1String("pdf") || task == QLatin1String("csv")) {
        vts::report::ReportEngine engine(dir);
        engine.setReportFileName(QStringLiteral("svrrpt1.rpt"));
        engine.setDataFile(0, QStringLiteral("VTSLog.MDB"));
        engine.setSortField(0, QStringLiteral("+{tblLog.SentTime}"));
        engine.setDestination(vts::report::ReportEngine::ToFile);
        engine.setPrintFileName(QStringLiteral("out.") + task);
        engine.run();
        return 0;
    }
    if (task == QLatin1String("pages")) {
        return pageTurns(dir);
    }
    if (task == QLatin1String("delete")) {
        auto database = vts::logstore::open(dir);
        sqlite3_exec(database->handle(),
                     "DELETE FROM tblLog WHERE SentTime >= '1998-01-01 00:00:00' AND SentTime <= "
                     "'1998-07-02 23:59:59'",
                     nullptr, nullptr, nullptr);
        std::printf("%d\n", sqlite3_changes(database->handle()));
        return 0;
    }
    if (task == QLatin1String("purge")) {
        vts::ConsoleDialogs dialogs(vts::Dialogs::Answer::Yes);
        vts::report::PurgeLogic logic(dir, dialogs);
        logic.purge({true, QDate(1998, 1, 1), QDate(1998, 7, 2), QString()});
        std::printf("%d\n", logic.lastDeleted());
        return 0;
    }
    return 2;
}

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
};

Measure spawnTask(const char* self, const char* task, const QString& dir) {
    const QByteArray d = QFile::encodeName(dir);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>("--task"), const_cast<char*>(task),
                    const_cast<char*>(d.constData()), nullptr};
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) {
        return {};
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "task %s failed\n", task);
    }
    return {std::chrono::duration<double>(t1 - t0).count(), usage.ru_maxrss};
}

void copyLog(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QString& f : QDir(from).entryList(QDir::Files)) {
        QFile::remove(QDir(to).filePath(f));
        QFile::copy(QDir(from).filePath(f), QDir(to).filePath(f));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc == 4 && std::strcmp(argv[1], "--task") == 0) {
        QGuiApplication app(argc, argv);
        return runTask(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--fill") == 0) {  // a log to look at or profile
        if (argc != 4) {
            std::fprintf(stderr, "usage: reportbench --fill DIR rows\n");
            return 2;
        }
        const QString dir = QString::fromLocal8Bit(argv[2]);
        if (!QFileInfo(dir).isDir()) {
            std::fprintf(stderr, "reportbench: the folder %s does not exist; make it first\n",
                         argv[2]);
            return 2;
        }
        try {
            fillLog(dir, std::max(1, std::atoi(argv[3])));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "reportbench: the log in %s could not be made: %s\n", argv[2],
                         e.what());
            return 1;
        }
        return 0;
    }
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const char* self = "/proc/self/exe";
    char exe[4096] = {};
    const ssize_t n = readlink(self, exe, sizeof exe - 1);
    if (n <= 0) {
        return 1;
    }

    QTemporaryDir tmp;
    const QString master = tmp.filePath(QStringLiteral("master"));
    const QString small = tmp.filePath(QStringLiteral("small"));
    QDir().mkpath(master);
    QDir().mkpath(small);
    fillLog(master, rows);
    fillLog(small, std::max(1, rows / 10));

    const Measure query = spawnTask(exe, "query", master);
    const Measure pdf = spawnTask(exe, "pdf", master);
    const Measure csv = spawnTask(exe, "csv", master);
    const Measure pdfSmall = spawnTask(exe, "pdf", small);
    const Measure pages = spawnTask(exe, "pages", master);
    const QString work = tmp.filePath(QStringLiteral("work"));
    copyLog(master, work);
    const Measure del = spawnTask(exe, "delete", work);
    copyLog(master, work);
    const Measure purge = spawnTask(exe, "purge", work);

    const auto pdfSize = QFileInfo(QDir(master).filePath(QStringLiteral("out.pdf"))).size();
    std::printf("rows: %d (PDF %.1f MB)\n", rows, pdfSize / 1e6);
    std::printf("%-34s %8s %10s %12s\n", "task", "seconds", "peak MiB", "time ratio");
    auto line = [&](const char* name, const Measure& m, const Measure& base) {
        std::printf("%-34s %8.2f %10.1f %11.1fx\n", name, m.seconds, m.peakKiB / 1024.0,
                    m.seconds / base.seconds);
    };
    line("bare SQLite read, sorted", query, query);
    line("Normal report to PDF", pdf, query);
    line("Normal report to CSV", csv, query);
    line("Normal report to PDF, rows/10", pdfSmall, query);
    line("bare SQLite delete of half", del, del);
    line("purge of half", purge, del);
    std::printf("PDF peak memory, all rows / tenth of rows: %.2f\n",
                static_cast<double>(pdf.peakKiB) / std::max(1L, pdfSmall.peakKiB));
    std::printf("PDF time / CSV time: %.2f\n", pdf.seconds / csv.seconds);

    QFile turns(QDir(master).filePath(QStringLiteral("pages.txt")));
    if (pages.seconds > 0 && turns.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> t = turns.readAll().simplified().split(' ');
        if (t.size() == 4) {
            const double f1 = t[0].toDouble(), r1 = t[1].toDouble();
            const double f1000 = t[2].toDouble(), r1000 = t[3].toDouble();
            std::printf("report window, sorted by sender (ms)  at page 1  at page 1000  ratio\n");
            std::printf("  next page                          %9.2f %13.2f %6.2f\n", f1 * 1e3,
                        f1000 * 1e3, f1000 / f1);
            std::printf("  a page seen before                 %9.2f %13.2f %6.2f\n", r1 * 1e3,
                        r1000 * 1e3, r1000 / r1);
        }
    }
    return 0;
}
