#pragma once

#include <QString>
#include <QStringList>

// Names and paths resolved against what exists, ignoring letter case, with
// "\" and "/" both separating components; wildcard listing as on Windows.
namespace vts::paths {

// Resolves `path` (absolute, or relative to `base`; "\" or "/" separators)
// component by component against the file system, ignoring case. Components
// that exist take their real spelling; the first missing one and everything
// after it keep the spelling as written (a new file gets the name as
// written). Returns an absolute path with "/" separators. A trailing
// separator is kept.
QString resolve(const QString& path, const QString& base = QString());

// True when `resolve(path, base)` names an existing file or folder.
bool exists(const QString& path, const QString& base = QString());

// Case-insensitive wildcard match of one name ("*" any run, "?" one char).
bool wildcardMatch(const QString& pattern, const QString& name);

// Names of the regular files in `folder` (resolved as above) matching the
// pattern, in the folder's listing order (sorted by name, case-insensitively).
// Sets *ok to false (and returns empty) when the folder cannot be listed.
QStringList listFiles(const QString& folder, const QString& pattern, bool* ok = nullptr);

// Joins a folder and a name the way the queue code does (plain
// concatenation, "\" turned into "/"), e.g. join(Q, "\\PENDING\\", F).
QString join(const QString& a, const QString& b, const QString& c = QString());

// The system directory: $VANTREL_SYSTEM_DIR when set, else the folder of the
// running program.
QString systemDirectory();

// The folder of the settings an administrator edits by hand for the
// installed suite: $VANTREL_SETTINGS_DIR when set, else /etc/vantrel.
QString settingsDirectory();

// The settings file `name` (e.g. "calvex.ini") a program run in `workDir`
// reads: the one in `workDir` when it exists there (any letter case), so a
// working directory of its own keeps working for development and tests;
// else the one in settingsDirectory() when that exists; else the path in
// `workDir`, so a message about a missing file names the working directory.
QString settingsFile(const QString& name, const QString& workDir);

// Free bytes of the file system holding `path` (statvfs, 64 bits); -1 on error.
qint64 freeSpace(const QString& path);

}  // namespace vts::paths
