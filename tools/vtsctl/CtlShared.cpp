#include "CtlShared.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "IniFile.h"
#include "Paths.h"
#include "Routes.h"
#include "Statuses.h"
#include "Transport.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

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

bool secretSetting(const QString& name) {
    return name.compare(QLatin1String("SystemPassword"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("AlertPagePassword"), Qt::CaseInsensitive) == 0;
}

QString shownSetting(const settings::Field& f, const QVariant& v) {
    if (f.kind == settings::Kind::Flag)
        return v.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    return v.toString();
}

QVariant settingValue(const settings::Field& f, const QString& value, QString* problem) {
    switch (f.kind) {
        case settings::Kind::Flag: {
            const QString t = value.trimmed().toLower();
            if (t != QLatin1String("yes") && t != QLatin1String("no")) {
                *problem = QStringLiteral("%1 is yes or no").arg(f.name);
            }
            return t == QLatin1String("yes");
        }
        case settings::Kind::Choice: {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 0 || n > 32767) {
                *problem = QStringLiteral("%1 takes a list position (0, 1, ...)").arg(f.name);
            }
            return n;
        }
        case settings::Kind::Number:
            *problem = settings::numberProblem(f.name, value);
            return value;
        case settings::Kind::Text:
            for (const db::FieldDef& d : configstore::configTable().fields) {
                if (d.name == f.name && d.size > 0 && value.size() > d.size) {
                    *problem =
                        QStringLiteral("%1 holds at most %2 characters").arg(f.name).arg(d.size);
                }
            }
            return value;
    }
    return value;
}

namespace {

// Replaces the entry of `section` in `ini` that `same` picks by `key` and
// `value` (none when empty), entries ordered by `order`; the old value in
// `before`.
bool replaceEntry(const QString& ini, const QString& section, const QString& key,
                  const QString& value, const std::function<bool(const QString&)>& same,
                  const std::function<qint64(const QString&)>& order, QString* before,
                  QString* why) {
    IniFile file = IniFile::load(ini);
    QList<QPair<QString, QString>> entries = file.entries(section);
    if (before) before->clear();
    entries.removeIf([&](const QPair<QString, QString>& e) {
        if (!same(e.first)) return false;
        if (before) *before = e.second;
        return true;
    });
    if (!value.isEmpty()) entries.append({key, value});
    std::stable_sort(entries.begin(), entries.end(), [&order](const auto& a, const auto& b) {
        return order(a.first) < order(b.first);
    });
    file.setSection(section, entries);
    if (file.save(ini)) return true;
    if (why) *why = QStringLiteral("cannot write %1").arg(ini);
    return false;
}

}  // namespace

bool setPort(const QString& ini, const QString& com, const QString& entry, QString* before,
             QString* why) {
    static const QRegularExpression name(QStringLiteral(R"(^COM([1-9]\d?)$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = name.match(com.trimmed());
    if (!m.hasMatch()) {
        if (why) *why = QStringLiteral("%1 is not COM1 to COM99").arg(com.trimmed());
        return false;
    }
    const QString value = entry.trimmed();
    if (!value.isEmpty() && !PortTarget::parse(value, why)) return false;
    return replaceEntry(
        ini, QStringLiteral("ports"), QStringLiteral("COM") + m.captured(1), value,
        [&m](const QString& k) {
            return k.compare(QStringLiteral("COM") + m.captured(1), Qt::CaseInsensitive) == 0;
        },
        [](const QString& k) { return k.mid(3).toLongLong(); }, before, why);
}

bool setRoute(const QString& ini, const QString& number, const QString& ports, QString* before,
              QString* why) {
    const QString digits = Routes::digits(number);
    if (digits.isEmpty() || digits.size() > 32) {
        if (why) *why = QStringLiteral("%1 is not a paging-service number").arg(number.trimmed());
        return false;
    }
    QString value;
    if (!ports.trimmed().isEmpty()) {
        value = Routes::entry(ports, why);
        if (value.isEmpty()) return false;
    }
    return replaceEntry(
        ini, QStringLiteral("routes"), digits, value,
        [&digits](const QString& k) { return Routes::digits(k) == digits; },
        [](const QString&) { return qint64{0}; }, before, why);
}

}  // namespace vts::ctl
