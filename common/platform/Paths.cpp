#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

#include <algorithm>

namespace vts::paths {

namespace {

QString normalised(const QString& path) {
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

// The real spelling of `name` inside `folder`: an exact match first, else the
// first entry (in case-insensitive name order) that equals it ignoring case.
// Empty when none exists.
QString matchEntry(const QString& folder, const QString& name) {
    const QString exact =
        folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact)) return name;
    QDir dir(folder);
    if (!dir.exists()) return {};
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDir::Name | QDir::IgnoreCase);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return e;
    return {};
}

QString appendComponent(const QString& base, const QString& name) {
    return base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
}

}  // namespace

QString resolve(const QString& path, const QString& base) {
    const QString p = normalised(path);
    QString current;
    if (p.startsWith(QLatin1Char('/'))) {
        current = QStringLiteral("/");
    } else {
        const QString b = base.isEmpty() ? QDir::currentPath() : normalised(base);
        current = b.startsWith(QLatin1Char('/')) ? resolve(b) : resolve(b, QDir::currentPath());
        if (current.size() > 1 && current.endsWith(QLatin1Char('/'))) current.chop(1);
    }

    const QStringList parts = p.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool missing = false;
    for (const QString& part : parts) {
        if (part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) {
            if (current != QLatin1String("/")) {
                current = QFileInfo(current).path();
            }
            continue;
        }
        QString name = part;
        if (!missing) {
            const QString real = matchEntry(current, part);
            if (real.isEmpty())
                missing = true;
            else
                name = real;
        }
        current = appendComponent(current, name);
    }
    if (p.endsWith(QLatin1Char('/')) && !current.endsWith(QLatin1Char('/')))
        current += QLatin1Char('/');
    return current;
}

bool exists(const QString& path, const QString& base) {
    if (path.isEmpty()) return false;
    return QFileInfo::exists(resolve(path, base));
}

bool wildcardMatch(const QString& pattern, const QString& name) {
    // Iterative match with one back-track point for the last "*".
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    const qsizetype pl = pattern.size(), nl = name.size();
    auto same = [](QChar a, QChar b) { return a.toCaseFolded() == b.toCaseFolded(); };
    while (n < nl) {
        if (p < pl && pattern.at(p) == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (p < pl &&
                   (pattern.at(p) == QLatin1Char('?') || same(pattern.at(p), name.at(n)))) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pl && pattern.at(p) == QLatin1Char('*')) ++p;
    return p == pl;
}

QStringList listFiles(const QString& folder, const QString& pattern, bool* ok) {
    const QString dirPath = resolve(folder);
    QDir dir(dirPath);
    if (!QFileInfo(dirPath).isDir() || !QFileInfo(dirPath).isReadable()) {
        if (ok) *ok = false;
        return {};
    }
    if (ok) *ok = true;
    // "*.*" matches every name, with a dot or without, as on Windows.
    const QString pat = pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
    QStringList out;
    for (const QString& e : entries)
        if (wildcardMatch(pat, e)) out << e;
    return out;
}

QString join(const QString& a, const QString& b, const QString& c) { return normalised(a + b + c); }

QString systemDirectory() {
    const QByteArray env = qgetenv("VANTREL_SYSTEM_DIR");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

QString settingsDirectory() {
    const QByteArray env = qgetenv("VANTREL_SETTINGS_DIR");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    return QStringLiteral("/etc/vantrel");
}

QString settingsFile(const QString& name, const QString& workDir) {
    QString local = resolve(name, workDir);
    if (QFileInfo::exists(local)) return local;
    QString system = resolve(name, settingsDirectory());
    if (QFileInfo::exists(system)) return system;
    return local;
}

qint64 freeSpace(const QString& path) {
    const QString p = resolve(path);
    struct statvfs st {};
    if (statvfs(QFile::encodeName(p).constData(), &st) != 0) return -1;
    return static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize);
}

}  // namespace vts::paths
