#pragma once

#include "Dialogs.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <cstdio>
#include <memory>

// The headless server as a service: status lines carry the syslog priority
// prefix the journal understands when standard output is the journal, and a
// server started as root says once that it should run as its own user.
namespace vts::servicelog {

// Syslog priorities used for status lines.
constexpr int kError = 3;
constexpr int kWarning = 4;
constexpr int kInfo = 6;

// The priority of a status line's text (without its time stamp): errors
// (lines beginning "Error", the invalid queue folder) 3, failed or
// cancelled pages, alerts sent and files returned after an unclean end 4,
// everything else 6.
int priorityOf(const QString& text);

// The line as written to the journal: "<N>" and the line. `line` is the
// status list line with its time stamp, as the list shows it.
QString journalLine(const QString& line);

// True when `journalStream` (the value of JOURNAL_STREAM, "DEVICE:INODE" in
// decimal) names the file with this device and inode.
bool journalStreamMatches(const QByteArray& journalStream, dev_t device, ino_t inode);

// True when the file descriptor is the stream systemd connected to the
// journal (standard output and standard error share it in a service).
bool isJournal(int fd);
bool stdoutIsJournal();

// The one status line a server started by root writes; empty for anyone else.
QString rootWarning(uid_t effectiveUser);

// Message boxes of the headless server when standard error is the journal:
// `inner` (which writes each box as one line to standard error) shows the
// box; the line starts with the priority its icon gives: Critical 3,
// Exclamation 4, any other 6. A fatal start-up message is thus an error.
class JournalDialogs final : public Dialogs {
public:
    explicit JournalDialogs(std::unique_ptr<Dialogs> inner, std::FILE* out = stderr)
        : m_inner(std::move(inner)), m_out(out) {}
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    static int priorityOf(Icon icon);

private:
    std::unique_ptr<Dialogs> m_inner;
    std::FILE* m_out;
};

}  // namespace vts::servicelog
