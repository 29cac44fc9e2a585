#pragma once

#include <QString>

#include <optional>

// What an operator may do with one message file of the queue folders:
// send it again (the file goes back to the queue folder under its own name,
// where the next check logs it anew, as the exit sequence returns pending
// files), or delete it (as the expiry sweep does). The file is named
// bare, as the folder lists it; a name that is a path, or does not end in
// ".PMF", is refused.
namespace vts::pendingfiles {

enum class Action { Retry, Delete };

std::optional<Action> actionNamed(const QString& word);

// The folder ("PENDING", "FAILED" or "SENT", in that order of search) that
// holds `name` under `queueFolder`, and the file's full path; nullopt when
// none does.
struct Found {
    QString folder;
    QString path;
};
std::optional<Found> find(const QString& queueFolder, const QString& name);

// Empty when `name` may name a message file; else why not.
QString checkName(const QString& name);

// Does `action` to the file; returns what was done, or sets *error. A file
// found in the sent folder is not sent again (it was delivered). A retry
// never replaces a file of the same name in the queue folder.
QString apply(Action action, const QString& queueFolder, const QString& name, QString* error);

}  // namespace vts::pendingfiles
