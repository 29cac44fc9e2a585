#include "ProgramFolder.h"

#include "Conversions.h"
#include "Paths.h"
#include "TextFile.h"

#include <QDir>
#include <QFileInfo>

namespace vts {

ProgramFolder::ProgramFolder(QString folder) : m_folder(QDir(folder).absolutePath()) {}

QString ProgramFolder::entry(const QString& folder, const QString& name) {
    return paths::resolve(name, folder);
}

QString ProgramFolder::clientProgram() const { return entry(m_folder, QStringLiteral("VT.EXE")); }
QString ProgramFolder::localVersionFile() const {
    return entry(m_folder, QStringLiteral("FILEINFO.TXT"));
}
QString ProgramFolder::downloadFolder() const { return entry(m_folder, QStringLiteral("GETVT")); }
QString ProgramFolder::downloadedVersionFile() const {
    return entry(downloadFolder(), QStringLiteral("FILEINFO.TXT"));
}
QString ProgramFolder::updatedFile() const {
    return entry(m_folder, QStringLiteral("UPDATED.TXT"));
}

bool ProgramFolder::writeUpdated(const QDateTime& when) const {
    return text::writeLines(updatedFile(), {conv::formatGeneralDate(when)});
}

bool ProgramFolder::ensureDownloadFolder() const {
    const QString dir = downloadFolder();
    if (QFileInfo(dir).isDir()) return true;
    return QDir().mkpath(dir);
}

}  // namespace vts
