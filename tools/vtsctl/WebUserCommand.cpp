#include "WebUserCommand.h"

#include "Database.h"
#include "WebUsers.h"

#include <QDateTime>

#include <iostream>
#include <string>

namespace vts::ctl {

namespace {

int refuse(const Streams& io, const QString& why, int status) {
    std::fprintf(io.err, "vtsctl: %s\n", why.toLocal8Bit().constData());
    if (status == 2) {
        std::fprintf(io.err,
                     "usage: vtsctl web-user add NAME --role viewer|operator|administrator "
                     "(password on standard input) | list | remove NAME\n");
    }
    return status;
}

}  // namespace

int webUser(const QStringList& args, const QString& workDir, const Streams& io) {
    const QString verb = args.value(1);
    try {
        web::WebUsers users(workDir);
        if (verb == QLatin1String("list") && args.size() == 2) {
            for (const web::WebUser& u : users.users()) {
                std::fprintf(io.out, "%s  %s\n", u.name.toLocal8Bit().constData(),
                             web::roleName(u.role).toLocal8Bit().constData());
            }
            return 0;
        }
        if (verb == QLatin1String("remove") && args.size() == 3) {
            if (!users.remove(args.at(2))) return refuse(io, "no web user " + args.at(2), 1);
            users.audit(QStringLiteral("(vtsctl)"), QStringLiteral("remove user"), args.at(2), {},
                        {}, QDateTime::currentDateTime());
            return 0;
        }
        if (verb != QLatin1String("add") || args.size() != 5 ||
            args.at(3) != QLatin1String("--role")) {
            return refuse(io, QStringLiteral("web-user takes add NAME --role ROLE, list or remove"),
                          2);
        }
        const QString& name = args.at(2);
        const auto role = web::roleFromName(args.at(4));
        if (!role)
            return refuse(io, QStringLiteral("--role is viewer, operator or administrator"), 2);
        std::string line;
        if (!std::getline(std::cin, line)) {
            return refuse(io, QStringLiteral("no password on standard input"), 1);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const QString why = users.setUser(
            name, *role, QByteArray(line.data(), static_cast<qsizetype>(line.size())));
        if (!why.isEmpty()) return refuse(io, why, 1);
        users.audit(QStringLiteral("(vtsctl)"), QStringLiteral("add user"), name, {},
                    web::roleName(*role), QDateTime::currentDateTime());
        return 0;
    } catch (const db::DbError& e) {
        return refuse(io, QString::fromLocal8Bit(e.what()), 1);
    }
}

}  // namespace vts::ctl
