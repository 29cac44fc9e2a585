#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The installation step: a new working directory with a configuration store
// holding first-run settings and a queue folder with its three subfolders.
// Nothing is touched when the directory already holds a configuration store.
namespace vts::vtsinit {

struct Options {
    QString dir;        // the working directory to make (absolute)
    QString queue;      // the queue folder (absolute); default DIR/QUEUE
    QList<int> modems;  // COM port numbers for tblModems, in order
};

// Parses "DIR [--queue PATH] [--modem N]...". Relative paths are taken from
// the current directory. Returns nullopt with `error` set on bad arguments.
std::optional<Options> parseArguments(const QStringList& args, QString* error);

// What was made, one line per item, for printing.
struct Result {
    QStringList made;
};

// Makes the working directory; throws std::runtime_error (or db::DbError)
// with a readable message on refusal or failure.
Result makeWorkingDirectory(const Options& options);

QString usage();

}  // namespace vts::vtsinit
