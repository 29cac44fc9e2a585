#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Windows-1252 text files. A line ends at a carriage return (a line feed
// right after it is skipped) or, unless the reader asks for carriage returns
// only, at a lone line feed; a last line without an ending still counts, an
// empty file has no lines.
namespace vts::text {

enum class LineEnds {
    CrOrLf,  // a lone line feed ends a line too
    CrOnly,  // a lone line feed is a character of its line
};

// Why a bounded read gave nothing.
enum class ReadError { None, CannotOpen, NotRegular, TooLarge };

QString fromWin1252(const QByteArray& bytes);
// Characters that Windows-1252 cannot hold become '?'.
QByteArray toWin1252(const QString& text);

// Splits decoded text into lines by the rule above.
QStringList splitLines(const QString& text, LineEnds ends = LineEnds::CrOrLf);

// The bytes of a regular file of at most `maxBytes`, opened without
// blocking (a FIFO, device or socket is refused, never waited on) and read
// no further than the bound.
std::optional<QByteArray> readBounded(const QString& path, qint64 maxBytes,
                                      ReadError* error = nullptr);

// Reads a file's lines; nullopt when it cannot be opened. `maxBytes` bounds
// what is read (a larger file gives nullopt and *tooLarge = true).
std::optional<QStringList> readLines(const QString& path,
                                     qint64 maxBytes = qint64{16} * 1024 * 1024,
                                     bool* tooLarge = nullptr, LineEnds ends = LineEnds::CrOrLf);
// The first line of a file, or nullopt when it cannot be read.
std::optional<QString> readFirstLine(const QString& path);

// Writes lines, each followed by CR LF, in Windows-1252. Returns false on error.
bool writeLines(const QString& path, const QStringList& lines);

}  // namespace vts::text
