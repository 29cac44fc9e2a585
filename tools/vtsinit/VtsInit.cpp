#include "VtsInit.h"

#include "ConfigStore.h"
#include "Database.h"
#include "Paths.h"
#include "ReportLayout.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace vts::vtsinit {

QString usage() {
    return QStringLiteral(
        "usage: vtsinit DIR [--queue PATH] [--modem N]...\n"
        "  Creates DIR with a new VTSCFG.MDB and the queue folder DIR/QUEUE\n"
        "  (PENDING, SENT, FAILED).\n"
        "  --queue PATH  use PATH as the queue folder instead\n"
        "  --modem N     add the modem port COMN (1 to 32); may be repeated\n"
        "  --help        show this text\n"
        "  --version     show the version\n");
}

std::optional<Options> parseArguments(const QStringList& args, QString* error) {
    Options o;
    QString queue;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--queue") || a == QLatin1String("--modem")) {
            if (i + 1 >= args.size()) {
                *error = a + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            const QString& v = args.at(++i);
            if (a == QLatin1String("--queue")) {
                if (v.trimmed().isEmpty()) {
                    *error = QStringLiteral("--queue needs a folder");
                    return std::nullopt;
                }
                queue = v;
                continue;
            }
            bool ok = false;
            const int n = v.toInt(&ok);
            if (!ok || n < 1 || n > 32) {
                *error =
                    QStringLiteral("--modem wants a port number from 1 to 32, not '%1'").arg(v);
                return std::nullopt;
            }
            if (o.modems.contains(n)) {
                *error = QStringLiteral("COM%1 is given twice").arg(n);
                return std::nullopt;
            }
            o.modems << n;
        } else if (a.startsWith(u'-')) {
            // "-v" is an option this program does not know, not a folder
            // name; a folder that starts with a dash is given as "./-v".
            *error = QStringLiteral("unknown option %1").arg(a);
            return std::nullopt;
        } else if (o.dir.isEmpty()) {
            o.dir = a;
        } else {
            *error = QStringLiteral("only one directory may be given");
            return std::nullopt;
        }
    }
    if (o.dir.isEmpty()) {
        *error = QStringLiteral("no directory given");
        return std::nullopt;
    }
    o.dir = QDir::cleanPath(QDir::current().absoluteFilePath(o.dir));
    o.queue = queue.isEmpty() ? o.dir + QStringLiteral("/QUEUE")
                              : QDir::cleanPath(QDir::current().absoluteFilePath(queue));
    return o;
}

Result makeWorkingDirectory(const Options& o) {
    Result r;
    if (QFileInfo::exists(o.dir) && !QFileInfo(o.dir).isDir())
        throw std::runtime_error(
            QStringLiteral("%1 exists and is not a directory").arg(o.dir).toStdString());
    if (QFileInfo(o.dir).isDir() && configstore::present(o.dir))
        throw std::runtime_error(
            QStringLiteral("%1 already holds a configuration store (%2); nothing was changed")
                .arg(o.dir, paths::resolve(configstore::kFileName, o.dir))
                .toStdString());

    if (!QFileInfo(o.dir).isDir()) {
        if (!QDir().mkpath(o.dir))
            throw std::runtime_error(QStringLiteral("cannot create %1").arg(o.dir).toStdString());
        r.made << QStringLiteral("directory %1").arg(o.dir);
    }
    for (const char* sub : {"", "/PENDING", "/SENT", "/FAILED"}) {
        const QString folder = o.queue + QLatin1String(sub);
        if (QFileInfo(paths::resolve(folder)).isDir()) continue;
        if (!QDir().mkpath(folder))
            throw std::runtime_error(QStringLiteral("cannot create %1").arg(folder).toStdString());
        r.made << QStringLiteral("queue folder %1").arg(folder);
    }

    const QString store = o.dir + QLatin1Char('/') + configstore::kFileName;
    configstore::createNew(store, o.queue);
    r.made
        << QStringLiteral("configuration store %1 (MessageQueueLocation %2)").arg(store, o.queue);
    for (const QString& layout : report::installDefaultLayouts(o.dir))
        r.made << QStringLiteral("report layout %1").arg(layout);
    if (!o.modems.isEmpty()) {
        auto db = db::Database::openPath(store);
        auto rs = db->openTable(QStringLiteral("tblModems"));
        for (int n : o.modems) {
            rs->addNew();
            rs->setValue(QStringLiteral("ComPort"), QStringLiteral("COM%1").arg(n));
            rs->update();
            r.made << QStringLiteral("modem port COM%1").arg(n);
        }
    }
    return r;
}

}  // namespace vts::vtsinit
