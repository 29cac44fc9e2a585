// Helper program for the store tests, run as separate processes:
//   vts_logwriter add DIR COUNT TAG   adds COUNT rows to the log in DIR, one
//                                     transaction each, Sender = TAG
//   vts_logwriter hold DIR MS         takes the log's write lock, prints
//                                     "locked", keeps it MS milliseconds
#include "Database.h"
#include "LogStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) return 2;
    try {
        auto db = vts::logstore::open(args.at(2));
        if (args.at(1) == QLatin1String("add")) {
            auto rs = db->openTable(QStringLiteral("tblLog"));
            const int n = args.at(3).toInt();
            for (int i = 0; i < n; ++i) {
                rs->addNew();
                rs->setValue(QStringLiteral("Status"), 0);
                rs->setValue(QStringLiteral("StatusDescription"), QStringLiteral("PENDING"));
                rs->setValue(QStringLiteral("Sender"), args.value(4));
                rs->setValue(QStringLiteral("UniqueID"),
                             QStringLiteral("%1-%2").arg(args.value(4)).arg(i));
                rs->setValue(QStringLiteral("SentTime"), QDateTime::currentDateTime());
                rs->update();
            }
            return 0;
        }
        if (args.at(1) == QLatin1String("hold")) {
            sqlite3_exec(db->handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            std::printf("locked\n");
            std::fflush(stdout);
            QThread::msleep(args.at(3).toULong());
            sqlite3_exec(db->handle(), "COMMIT", nullptr, nullptr, nullptr);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 2;
}
