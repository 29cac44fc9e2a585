#include "CtlShared.h"

#include "Conversions.h"
#include "Paths.h"
#include "Statuses.h"

#include <QFile>
#include <QRegularExpression>

namespace vts::ctl {

namespace {
constexpr qint64 kMaxTraceBytes = qint64{8} * 1024 * 1024;
}

QStringList traceOfCall(const QString& dir, const QString& id) {
    QStringList found;
    const QRegularExpression mark(
        QStringLiteral(R"(: ID=%1$)").arg(QRegularExpression::escape(id)));
    QStringList names = paths::listFiles(dir, QStringLiteral("KRX?.log.1"));
    names += paths::listFiles(dir, QStringLiteral("KRX?.log"));
    for (const QString& name : names) {
        QFile f(paths::resolve(name, dir));
        if (!f.open(QIODevice::ReadOnly)) continue;
        if (f.size() > kMaxTraceBytes) f.seek(f.size() - kMaxTraceBytes);
        QStringList run;
        bool ours = false;
        auto close = [&] {
            if (ours) found << QStringLiteral("(%1)").arg(name) << run;
            run.clear();
            ours = false;
        };
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.contains(QLatin1String(" -- dialer run for "))) close();
            if (line.isEmpty()) continue;
            run << line;
            if (mark.match(line).hasMatch()) ours = true;
        }
        close();
    }
    return found;
}

QString statusWord(int status) {
    switch (static_cast<LogStatus>(status)) {
        case LogStatus::Waiting:
            return QStringLiteral("pending");
        case LogStatus::Sent:
            return QStringLiteral("sent");
        case LogStatus::Failed:
            return QStringLiteral("failed");
        case LogStatus::Cancelled:
            return QStringLiteral("cancelled");
    }
    return QString::number(status);
}

std::optional<QDate> dateOf(const QString& text) {
    if (const QDate iso = QDate::fromString(text, Qt::ISODate); iso.isValid()) return iso;
    if (const auto dt = conv::parseDateTime(text)) return dt->date();
    return std::nullopt;
}

}  // namespace vts::ctl
