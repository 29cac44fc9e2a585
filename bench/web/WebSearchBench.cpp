// The web console's Pages search over a message log of ROWS rows (default
// 1,000,000): the first 50 rows of several searches, through the console's
// own search (the report library's criteria, the cause beside each row,
// keyed paging), against bare SQLite reading the same rows with the
// simplest statement that finds them, in one run. Prints milliseconds per
// search for both and their ratio; the console's answer must stay within
// 300 ms, except for a text that only old rows hold: no index serves a part
// of a text, so that search reads the log back to its 50th match, and
// bare SQLite takes as long.
//   bench_websearch [ROWS] [DIR]
#include "Database.h"
#include "LogStore.h"
#include "PageSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

void fill(const QString& dir, int rows) {
    vts::logstore::create(dir);
    auto log = vts::logstore::open(dir);
    vts::logstore::createCauseTable(*log);
    sqlite3* db = log->handle();
    sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO tblLog (ID, Status, StatusDescription, Sender, Department, "
                       "Recipient, SentTime, TAPPhoneNumber, TAPPIN, Message, UniqueID) VALUES "
                       "(?, ?, 'SENT', ?, 'DESK', ?, ?, ?, ?, ?, ?)",
                       -1, &st, nullptr);
    sqlite3_stmt* cause = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tblCause (ID, Cause) VALUES (?, '550 unknown pager')", -1,
                       &cause, nullptr);
    const QDateTime start(QDate(2025, 1, 1), QTime(0, 0));
    for (int i = 1; i <= rows; ++i) {
        const int status = i % 10 == 0 ? 2 : 1;
        const QByteArray sender = QStringLiteral("SENDER%1").arg(i % 37).toUtf8();
        const QByteArray recipient = QStringLiteral("RECIPIENT%1").arg(i % 53).toUtf8();
        const QByteArray when =
            start.addSecs(i * 20).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
        const QByteArray phone = QStringLiteral("555123%1").arg(i % 10).toUtf8();
        const QByteArray pin = QByteArray::number(100000 + i % 5000);
        const QByteArray text =
            QStringLiteral("Please call the front desk about delivery %1").arg(i).toUtf8();
        const QByteArray file = QStringLiteral("A%1.PMF").arg(i).toUtf8();
        sqlite3_bind_int(st, 1, i);
        sqlite3_bind_int(st, 2, status);
        sqlite3_bind_text(st, 3, sender.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, recipient.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, when.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 6, phone.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 7, pin.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 8, text.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 9, file.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
        if (status == 2) {
            sqlite3_bind_int(cause, 1, i);
            sqlite3_step(cause);
            sqlite3_reset(cause);
        }
    }
    sqlite3_finalize(st);
    sqlite3_finalize(cause);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

// Milliseconds per call of fn, best of `runs`.
double best(int runs, const std::function<int()>& fn, int* rows) {
    double bestMs = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        *rows = fn();
        const auto t1 = std::chrono::steady_clock::now();
        bestMs = std::min(bestMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return bestMs;
}

int bare(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    int n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(st); ++c) sqlite3_column_text(st, c);
        ++n;
    }
    sqlite3_finalize(st);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir tmp;
    const QString dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : tmp.path();
    if (!vts::logstore::present(dir)) {
        std::printf("filling a log of %d rows...\n", rows);
        std::fflush(stdout);
        fill(dir, rows);
    }
    auto log = vts::logstore::open(dir);
    sqlite3* raw = nullptr;
    sqlite3_open_v2(QDir(dir).filePath(QStringLiteral("VTSLog.mdb")).toUtf8().constData(), &raw,
                    SQLITE_OPEN_READONLY, nullptr);

    struct Case {
        const char* name;
        std::function<void(vts::web::PageFilter&)> set;
        const char* baseline;
        bool scan = false;  // no index helps: the log is read until 50 rows match
    };
    const Case cases[] = {
        {"newest 50", [](vts::web::PageFilter&) {},
         "SELECT * FROM tblLog ORDER BY ID DESC LIMIT 50"},
        {"failed", [](vts::web::PageFilter& f) { f.status = QStringLiteral("failed"); },
         "SELECT * FROM tblLog WHERE Status = 2 ORDER BY ID DESC LIMIT 50"},
        {"sender", [](vts::web::PageFilter& f) { f.sender = QStringLiteral("SENDER7"); },
         "SELECT * FROM tblLog WHERE Sender LIKE 'SENDER7%' ORDER BY ID DESC LIMIT 50"},
        {"phone and PIN",
         [](vts::web::PageFilter& f) {
             f.phone = QStringLiteral("5551233");
             f.pin = QStringLiteral("100003");
         },
         "SELECT * FROM tblLog WHERE TAPPhoneNumber = '5551233' AND TAPPIN = '100003' ORDER BY ID "
         "DESC LIMIT 50"},
        {"text, recent", [](vts::web::PageFilter& f) { f.text = QStringLiteral("delivery 9999"); },
         "SELECT * FROM tblLog WHERE instr(lower(Message), 'delivery 9999') > 0 ORDER BY ID DESC "
         "LIMIT 50"},
        {"text, rare (scan)",
         [](vts::web::PageFilter& f) { f.text = QStringLiteral("delivery 4242"); },
         "SELECT * FROM tblLog WHERE instr(lower(Message), 'delivery 4242') > 0 ORDER BY ID DESC "
         "LIMIT 50",
         true},
        {"older page by key", [](vts::web::PageFilter& f) { f.before = 500000; },
         "SELECT * FROM tblLog WHERE ID < 500000 ORDER BY ID DESC LIMIT 50"},
    };
    bool within = true;
    std::printf("%-20s %10s %10s %8s %6s\n", "search", "console ms", "sqlite ms", "ratio", "rows");
    for (const Case& c : cases) {
        vts::web::PageFilter f;
        c.set(f);
        int consoleRows = 0;
        int bareRows = 0;
        const double ours = best(
            5, [&] { return static_cast<int>(vts::web::search(*log, f).rows.size()); },
            &consoleRows);
        const double base = best(
            5, [&] { return bare(raw, c.baseline); }, &bareRows);
        std::printf("%-20s %10.2f %10.2f %8.2f %6d%s\n", c.name, ours, base,
                    ours / std::max(base, 0.001), consoleRows,
                    consoleRows == bareRows ? "" : "  (row counts differ)");
        if (ours > 300 && !c.scan) within = false;
    }
    sqlite3_close(raw);
    std::printf(within ? "every search within 300 ms\n" : "A SEARCH TOOK OVER 300 ms\n");
    return within ? 0 : 1;
}
