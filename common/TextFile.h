#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Windows-1252 text files. A line ends at a carriage return (a line feed
// right after it is skipped) or at a lone line feed; a last line without an
// ending still counts, an empty file has no lines.
namespace vts::text {

QString fromWin1252(const QByteArray& bytes);
// Characters that Windows-1252 cannot hold become '?'.
QByteArray toWin1252(const QString& text);

// Splits decoded text into lines by the rule above.
QStringList splitLines(const QString& text);

// Reads a file's lines; nullopt when it cannot be opened. `maxBytes` bounds
// what is read (a larger file gives nullopt and *tooLarge = true).
std::optional<QStringList> readLines(const QString& path, qint64 maxBytes = 16 * 1024 * 1024,
                                     bool* tooLarge = nullptr);
// The first line of a file, or nullopt when it cannot be read.
std::optional<QString> readFirstLine(const QString& path);

// Writes lines, each followed by CR LF, in Windows-1252. Returns false on error.
bool writeLines(const QString& path, const QStringList& lines);

}  // namespace vts::text
