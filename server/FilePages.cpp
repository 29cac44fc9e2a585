#include "FilePages.h"

#include "Paths.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vts::filepages {

namespace {

QString canonicalFolder(const QString& path) {
    const QFileInfo fi(path);
    return fi.isDir() ? fi.canonicalFilePath() : QString();
}

QString textPath(const QString& workingDir, qint64 id) {
    return QDir(workingDir)
        .filePath(QStringLiteral("%1/%2.txt").arg(QLatin1String(kFolder)).arg(id));
}

}  // namespace

QStringList allowedFolders(const QString& workingDir, const QString& queueFolder) {
    QStringList out;
    if (const QString q = canonicalFolder(queueFolder); !q.isEmpty()) {
        out << q;
    }
    const auto lines = text::readLines(paths::settingsFile(QLatin1String(kIniName), workingDir),
                                       qint64{64} * 1024);
    if (!lines) {
        return out;
    }
    bool inFiles = false;
    for (const QString& raw : *lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            inFiles = line.compare(QLatin1String("[files]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inFiles || eq < 0 || line.startsWith(u';') || line.startsWith(u'#')) {
            continue;
        }
        if (line.left(eq).trimmed().compare(QLatin1String("allow"), Qt::CaseInsensitive) != 0) {
            continue;
        }
        QString folder = line.mid(eq + 1).trimmed();
        if (QDir::isRelativePath(folder)) {
            folder = QDir(workingDir).filePath(folder);
        }
        if (const QString c = canonicalFolder(folder); !c.isEmpty() && !out.contains(c)) {
            out << c;
        }
    }
    return out;
}

std::optional<QByteArray> readAllowed(const QString& name, const QString& workingDir,
                                      const QStringList& allowed, QString* why) {
    QString path = name.trimmed();
    path.replace(u'\\', u'/');
    if (path.isEmpty()) {
        *why = QStringLiteral("no file is named");
        return std::nullopt;
    }
    if (QDir::isRelativePath(path)) {
        path = QDir(workingDir).filePath(path);
    }
    // Links are followed to where they lead; that place must be allowed.
    const QString real = QFileInfo(path).canonicalFilePath();
    bool inside = false;
    for (const QString& folder : allowed) {
        if (!real.isEmpty() && real.startsWith(folder + u'/')) {
            inside = true;
        }
    }
    if (!inside) {
        *why = QStringLiteral("not in a folder allowed for file pages");
        return std::nullopt;
    }
    text::ReadError error = text::ReadError::None;
    auto bytes = text::readBounded(real, kMaxBytes, &error);
    if (!bytes) {
        *why = error == text::ReadError::TooLarge
                   ? QStringLiteral("larger than %1 bytes").arg(kMaxBytes)
               : error == text::ReadError::NotRegular ? QStringLiteral("not a regular file")
                                                      : QStringLiteral("cannot be read");
        return std::nullopt;
    }
    return bytes;
}

std::optional<QString> store(const QString& workingDir, qint64 id, const QByteArray& text) {
    QDir(workingDir).mkpath(QLatin1String(kFolder));
    QSaveFile f(textPath(workingDir, id));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
        return std::nullopt;
    }
    return QStringLiteral("%1/%2.txt").arg(QLatin1String(kFolder)).arg(id);
}

void remove(const QString& workingDir, qint64 id) { QFile::remove(textPath(workingDir, id)); }

void clearAll(const QString& workingDir) {
    QDir dir(QDir(workingDir).filePath(QLatin1String(kFolder)));
    if (!dir.exists()) {
        return;
    }
    for (const QString& f : dir.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        dir.remove(f);
    }
}

}  // namespace vts::filepages
