// Inserts full tblLog rows, one transaction each, through the database layer
// and through bare SQLite calls into an identical store, in one run, and
// prints rows per second for both and their ratio.
//   bench_loginsert [ROWS] [DIR]      (defaults: 500 rows, a fresh folder
//                                      under the current directory)
// A second pass repeats both with the disk flush switched off on both sides,
// which shows the layer's own processor cost once flushing no longer
// dominates.
#include "Database.h"
#include "LogStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

struct Row {
    QString sender, department, recipient, phone, pin, password, comSettings, init, dial, email,
        smtp, uniqueId, message;
    QDateTime sent;
};

Row rowFor(int i) {
    Row r;
    r.sender = QStringLiteral("SENDER%1").arg(i % 37);
    r.department = QStringLiteral("DEPARTMENT %1").arg(i % 11);
    r.recipient = QStringLiteral("RECIPIENT%1").arg(i % 53);
    r.phone = QStringLiteral("5551234%1").arg(i % 10);
    r.pin = QStringLiteral("%1").arg(100000 + i);
    r.password = QStringLiteral("PW");
    r.comSettings = QStringLiteral("1200,E,7,1");
    r.init = QStringLiteral("ATZ");
    r.dial = QStringLiteral("ATDT");
    r.email = QStringLiteral("someone@example.com");
    r.smtp = QStringLiteral("mail.example.com");
    r.uniqueId = QStringLiteral("A%1.PMF").arg(i, 8, 10, QLatin1Char('0'));
    r.message = QStringLiteral("Please call the front desk about the delivery number %1.").arg(i);
    r.sent = QDateTime(QDate(1998, 7, 15), QTime(10, 30)).addSecs(i);
    return r;
}

double viaLayer(const QString& dir, int rows, bool sync) {
    vts::logstore::create(dir);
    auto db = vts::logstore::open(dir);
    if (!sync) sqlite3_exec(db->handle(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    auto rs = db->openTable(QStringLiteral("tblLog"));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rows; ++i) {
        const Row r = rowFor(i);
        rs->addNew();
        rs->setValue(QStringLiteral("Status"), 0);
        rs->setValue(QStringLiteral("StatusDescription"), QStringLiteral("PENDING"));
        rs->setValue(QStringLiteral("Type"), QStringLiteral("TAP"));
        rs->setValue(QStringLiteral("Sender"), r.sender);
        rs->setValue(QStringLiteral("Department"), r.department);
        rs->setValue(QStringLiteral("Recipient"), r.recipient);
        rs->setValue(QStringLiteral("SentTime"), r.sent);
        rs->setValue(QStringLiteral("TAPPhoneNumber"), r.phone);
        rs->setValue(QStringLiteral("TAPPIN"), r.pin);
        rs->setValue(QStringLiteral("TAPPassword"), r.password);
        rs->setValue(QStringLiteral("MaximumCharacters"), 80);
        rs->setValue(QStringLiteral("COMPortSetting"), r.comSettings);
        rs->setValue(QStringLiteral("ModemInitString"), r.init);
        rs->setValue(QStringLiteral("ModemDialString"), r.dial);
        rs->setValue(QStringLiteral("EMailAddress"), r.email);
        rs->setValue(QStringLiteral("SMTPServer"), r.smtp);
        rs->setValue(QStringLiteral("ReverseOrder"), false);
        rs->setValue(QStringLiteral("UniqueID"), r.uniqueId);
        rs->setValue(QStringLiteral("Message"), r.message);
        rs->update();
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return rows / s;
}

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

void bindText(sqlite3_stmt* st, int pos, const QString& s) {
    const QByteArray u = s.toUtf8();
    sqlite3_bind_text(st, pos, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}

// The same rows into an identical store (same schema, WAL, busy time-out)
// with one prepared INSERT and BEGIN/COMMIT around each row.
double viaSqlite(const QString& dir, int rows, bool sync) {
    vts::logstore::create(dir);
    const QByteArray file = QFile::encodeName(dir + QStringLiteral("/VTSLog.mdb"));
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                          nullptr),
          db);
    sqlite3_busy_timeout(db, 5000);
    check(sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), db);
    if (!sync) check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(
              db,
              "INSERT INTO tblLog (Status, StatusDescription, Type, Sender, Department, Recipient, "
              "SentTime, TAPPhoneNumber, TAPPIN, TAPPassword, MaximumCharacters, COMPortSetting, "
              "ModemInitString, ModemDialString, EMailAddress, SMTPServer, ReverseOrder, UniqueID, "
              "Message) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
              -1, &ins, nullptr),
          db);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rows; ++i) {
        const Row r = rowFor(i);
        check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
        sqlite3_bind_int(ins, 1, 0);
        bindText(ins, 2, QStringLiteral("PENDING"));
        bindText(ins, 3, QStringLiteral("TAP"));
        bindText(ins, 4, r.sender);
        bindText(ins, 5, r.department);
        bindText(ins, 6, r.recipient);
        bindText(ins, 7, r.sent.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        bindText(ins, 8, r.phone);
        bindText(ins, 9, r.pin);
        bindText(ins, 10, r.password);
        sqlite3_bind_int(ins, 11, 80);
        bindText(ins, 12, r.comSettings);
        bindText(ins, 13, r.init);
        bindText(ins, 14, r.dial);
        bindText(ins, 15, r.email);
        bindText(ins, 16, r.smtp);
        sqlite3_bind_int(ins, 17, 0);
        bindText(ins, 18, r.uniqueId);
        bindText(ins, 19, r.message);
        check(sqlite3_step(ins), db);
        // The new row's number is read at once, as the layer makes it readable.
        (void)sqlite3_last_insert_rowid(db);
        sqlite3_reset(ins);
        check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sqlite3_finalize(ins);
    sqlite3_close(db);
    return rows / s;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 500;
    if (rows <= 0) {
        std::fprintf(stderr, "usage: bench_loginsert [ROWS] [DIR]\n");
        return 2;
    }
    QTemporaryDir tmp(args.size() > 2 ? args.at(2) + QStringLiteral("/bench-XXXXXX")
                                      : QDir::currentPath() + QStringLiteral("/bench-XXXXXX"));
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot make a folder for the stores\n");
        return 1;
    }
    try {
        std::printf("rows per run: %d (full tblLog rows, one transaction each)\n", rows);
        for (bool sync : {true, false}) {
            // Two rounds each, alternating, so neither side gets a warmer disk.
            double layer = 0, bare = 0;
            for (int round = 0; round < 2; ++round) {
                const QString a = tmp.filePath(QStringLiteral("layer%1%2").arg(sync).arg(round));
                const QString b = tmp.filePath(QStringLiteral("bare%1%2").arg(sync).arg(round));
                QDir().mkpath(a);
                QDir().mkpath(b);
                bare += viaSqlite(b, rows, sync);
                layer += viaLayer(a, rows, sync);
            }
            layer /= 2;
            bare /= 2;
            std::printf("%s\n", sync ? "with disk flush at each commit (as the programs run):"
                                     : "without disk flush (processor cost only):");
            std::printf("  database layer:         %.0f rows/s\n", layer);
            std::printf("  bare SQLite (baseline): %.0f rows/s\n", bare);
            std::printf("  ratio layer/bare:       %.2f\n", layer / bare);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
