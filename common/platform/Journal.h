#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <cstdio>

// Lines for the systemd journal. A service's standard output and standard
// error are a stream the journal reads; a line starting "<N>" (N a syslog
// priority) is stored with that priority, so `journalctl -p err` finds it.
// Elsewhere (a terminal, a file, a test) lines stay as they are.
namespace vts::journal {

// Syslog priorities the suite's programs use.
constexpr int kError = 3;
constexpr int kWarning = 4;
constexpr int kInfo = 6;

// True when `journalStream` (the value of JOURNAL_STREAM, "DEVICE:INODE" in
// decimal) names the file with this device and inode.
bool streamMatches(const QByteArray& journalStream, dev_t device, ino_t inode);

// True when the file descriptor is the stream systemd connected to the journal.
bool attached(int fd);

// `text` as written to a stream: "<N>" first when `journal` is true.
QByteArray line(int priority, const QString& text, bool journal);

// Writes `text` and a new line to `out`, with the priority prefix when `out`
// is the journal, and flushes it.
void write(std::FILE* out, int priority, const QString& text);

}  // namespace vts::journal
