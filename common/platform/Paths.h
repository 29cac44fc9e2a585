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

// Free bytes of the file system holding `path` (statvfs, 64 bits); -1 on error.
qint64 freeSpace(const QString& path);

}  // namespace vts::paths
