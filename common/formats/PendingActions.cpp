#include "PendingActions.h"

#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vts::pendingfiles {

std::optional<Action> actionNamed(const QString& word) {
    if (word == QLatin1String("retry")) return Action::Retry;
    if (word == QLatin1String("delete")) return Action::Delete;
    return std::nullopt;
}

QString checkName(const QString& name) {
    if (name.isEmpty() || name.size() > 255) return QStringLiteral("no file name given");
    if (name.contains(u'/') || name.contains(u'\\') || name.startsWith(u'.') ||
        name.contains(QChar(0)))
        return QStringLiteral("%1 is not a file name of the queue folders").arg(name);
    if (!name.endsWith(QLatin1String(".PMF"), Qt::CaseInsensitive))
        return QStringLiteral("%1 is not a message file (*.PMF)").arg(name);
    return {};
}

std::optional<Found> find(const QString& queueFolder, const QString& name) {
    if (!checkName(name).isEmpty() || queueFolder.isEmpty()) return std::nullopt;
    for (const char* sub : {"PENDING", "FAILED", "SENT"}) {
        const QString folder = paths::resolve(QString::fromLatin1(sub), queueFolder);
        const QString path = paths::resolve(name, folder);
        const QFileInfo info(path);
        if (info.isFile() && !info.isSymLink()) return Found{QString::fromLatin1(sub), path};
    }
    return std::nullopt;
}

QString apply(Action action, const QString& queueFolder, const QString& name, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return QString();
    };
    if (const QString why = checkName(name); !why.isEmpty()) return fail(why);
    if (queueFolder.isEmpty() || !QFileInfo(queueFolder).isDir())
        return fail(QStringLiteral("the queue folder %1 does not exist").arg(queueFolder));
    const auto found = find(queueFolder, name);
    if (!found)
        return fail(QStringLiteral("%1 is not in the PENDING, FAILED or SENT folder").arg(name));
    const QString where = found->folder;
    if (action == Action::Delete) {
        if (!QFile::remove(found->path))
            return fail(QStringLiteral("cannot delete %1").arg(found->path));
        return QStringLiteral("%1 deleted from %2").arg(name, where);
    }
    if (where == QLatin1String("SENT"))
        return fail(QStringLiteral("%1 was sent; it is not sent again").arg(name));
    // Under the name it had, so the next check takes it as any queue file
    // (only names "A*.PMF" are collected); an existing file is never replaced.
    const QString target = QDir(queueFolder).filePath(QFileInfo(found->path).fileName());
    if (paths::exists(QFileInfo(target).fileName(), queueFolder))
        return fail(QStringLiteral("a file %1 is already in the queue folder").arg(name));
    if (!QFile::rename(found->path, target))
        return fail(QStringLiteral("cannot move %1 to the queue folder").arg(found->path));
    return QStringLiteral("%1 moved from %2 to the queue folder; the next check logs and sends it")
        .arg(name, where);
}

}  // namespace vts::pendingfiles
