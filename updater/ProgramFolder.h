#pragma once

#include <QDateTime>
#include <QString>

namespace vts {

// The files the updater keeps in its program folder, each found by its name
// in any letter case (an existing "vt.exe" is the client program "VT.EXE");
// a file that does not exist yet gets the name as written here.
class ProgramFolder {
public:
    explicit ProgramFolder(QString folder);

    const QString& path() const { return m_folder; }
    // The existing entry of `name` in `folder` in any letter case, else
    // folder + "/" + name.
    static QString entry(const QString& folder, const QString& name);

    QString clientProgram() const;          // VT.EXE
    QString localVersionFile() const;       // FILEINFO.TXT
    QString downloadFolder() const;         // GETVT
    QString downloadedVersionFile() const;  // GETVT/FILEINFO.TXT
    QString updatedFile() const;            // UPDATED.TXT

    // Writes UPDATED.TXT: one line, the date in the short form and the time
    // in the long form ("7/15/1998 10:30:00 PM"; no time at midnight).
    bool writeUpdated(const QDateTime& when) const;
    // Creates GETVT when it is missing.
    bool ensureDownloadFolder() const;

private:
    QString m_folder;
};

}  // namespace vts
