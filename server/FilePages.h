#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Texts the dialer sends from a file: file pages (a queue file whose line 1
// names a text file) and messages longer than a port record's message field.
// The server reads a named file only when it is a regular file inside a
// folder the operator allows, and hands the dialer a copy of the text in a
// folder of its own ("pagetext" in the working directory), so that the name
// fits the port record and the file cannot change between check and send.
namespace vts::filepages {

// The server's own settings file in the working directory, else in
// /etc/vantrel (paths::settingsFile):
//   [files]
//   allow = /srv/page-texts
//   allow = /home/shared/notices
// Each "allow" line adds a folder (and its subfolders) from which file pages
// may be read; the queue folder and its subfolders are always allowed.
inline constexpr const char* kIniName = "vtsmonitor.ini";
inline constexpr const char* kFolder = "pagetext";
// The most the dialer sends from one file.
inline constexpr qint64 kMaxBytes = qint64{16} * 1024;

// The queue folder plus the folders of the settings file, as canonical
// paths; folders that do not exist are left out.
QStringList allowedFolders(const QString& workingDir, const QString& queueFolder);

// Reads the file a queue file's line 1 names (relative names from the
// working directory, "\" as "/"). nullopt with *why when it is not a
// regular file inside an allowed folder, or is larger than kMaxBytes.
std::optional<QByteArray> readAllowed(const QString& name, const QString& workingDir,
                                      const QStringList& allowed, QString* why);

// Stores the text of message `id` and returns the name the dialer reads it
// by (relative to the working directory); nullopt when it cannot be written.
std::optional<QString> store(const QString& workingDir, qint64 id, const QByteArray& text);
void remove(const QString& workingDir, qint64 id);
// Removes every stored text (at start-up, once earlier results are in).
void clearAll(const QString& workingDir);

}  // namespace vts::filepages
