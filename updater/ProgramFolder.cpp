#include "ProgramFolder.h"

#include "TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace vts {

ProgramFolder::ProgramFolder(QString folder) : m_folder(QDir(folder).absolutePath()) {}

QString ProgramFolder::entry(const QString& folder, const QString& name) {
    QDir dir(folder);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& e : entries)
        if (e == name) return dir.filePath(e);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return dir.filePath(e);
    return dir.filePath(name);
}

QString ProgramFolder::clientProgram() const { return entry(m_folder, QStringLiteral("VT.EXE")); }
QString ProgramFolder::localVersionFile() const {
    return entry(m_folder, QStringLiteral("FILEINFO.TXT"));
}
QString ProgramFolder::downloadFolder() const { return entry(m_folder, QStringLiteral("GETVT")); }
QString ProgramFolder::downloadedVersionFile() const {
    return entry(downloadFolder(), QStringLiteral("FILEINFO.TXT"));
}
QString ProgramFolder::updatedFile() const { return entry(m_folder, QStringLiteral("UPDATED.TXT")); }

bool ProgramFolder::writeUpdated(const QDateTime& when) const {
    return text::writeLines(updatedFile(), {generalDateText(when)});
}

bool ProgramFolder::ensureDownloadFolder() const {
    const QString dir = downloadFolder();
    if (QFileInfo(dir).isDir()) return true;
    return QDir().mkpath(dir);
}

QString generalDateText(const QDateTime& when) {
    const QString date = QStringLiteral("%1/%2/%3")
                             .arg(when.date().month())
                             .arg(when.date().day())
                             .arg(when.date().year(), 4, 10, QLatin1Char('0'));
    const QTime t = when.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0) return date;
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral("%1 %2:%3:%4 %5")
        .arg(date)
        .arg(h12)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

}  // namespace vts
