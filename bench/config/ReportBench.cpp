// Report and purge benchmark: a log of N rows (100,000 by default); time and
// peak memory of a Normal report of every row to PDF and to CSV and of a
// purge of half the rows, each against a bare SQLite pass over the same rows
// in the same run. Every task runs in a child process of its own so its peak
// resident size is its own.
//
//   reportbench [rows]
//   reportbench --fill DIR rows      (only makes the log and the layouts)

#include "Database.h"
#include "Dialogs.h"
#include "LogStore.h"
#include "PurgeLogic.h"
#include "ReportEngine.h"
#include "ReportLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>

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
    if (argc == 4 && std::strcmp(argv[1], "--fill") == 0) {  // a log to look at or profile
        fillLog(QString::fromLocal8Bit(argv[2]), std::max(1, std::atoi(argv[3])));
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
    return 0;
}
