#include "ServiceLog.h"

#include "Journal.h"

#include <QLatin1String>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>

namespace vts::servicelog {

namespace {

constexpr int kStampLength = 22;  // "MM/DD/YYYY HH:NN:SS - "

bool startsWithAny(const QString& text, std::initializer_list<const char*> starts) {
    for (const char* s : starts) {
        if (text.startsWith(QLatin1String(s))) {
            return true;
        }
    }
    return false;
}

}  // namespace

int priorityOf(const QString& text) {
    // Problems the operator should look at while the server goes on normally.
    // Tested before the errors: an alert e-mail about a failure begins
    // "Error message e-mailed", yet it reports that the alert went out.
    if (startsWithAny(text, {"Warning", "Message failed:", "Message cancelled during dialing:",
                             "Error message e-mailed to", "Returned ", "Cause of ID="})) {
        return kWarning;
    }
    if (startsWithAny(text, {"Error", "The folder specified for the message queue is invalid"})) {
        return kError;
    }
    return kInfo;
}

QString journalLine(const QString& line) {
    return QStringLiteral("<%1>").arg(priorityOf(line.mid(kStampLength))) + line;
}

bool journalStreamMatches(const QByteArray& journalStream, dev_t device, ino_t inode) {
    return journal::streamMatches(journalStream, device, inode);
}

bool isJournal(int fd) { return journal::attached(fd); }

bool stdoutIsJournal() { return isJournal(STDOUT_FILENO); }

QString rootWarning(uid_t effectiveUser) {
    if (effectiveUser != 0) {
        return {};
    }
    return QStringLiteral(
        "Warning: the server is running as root. Run it as its own user (vantrel): a queue "
        "message may name a file for the dialer to read and page, and it is read with the "
        "server's rights");
}

int JournalDialogs::priorityOf(Icon icon) {
    switch (icon) {
        case Icon::Critical:
            return kError;
        case Icon::Exclamation:
            return kWarning;
        default:
            return kInfo;
    }
}

Dialogs::Answer JournalDialogs::show(const QString& text, const QString& title, Icon icon,
                                     Buttons buttons) {
    std::fprintf(m_out, "<%d>", priorityOf(icon));
    std::fflush(m_out);
    return m_inner->show(text, title, icon, buttons);
}

}  // namespace vts::servicelog
