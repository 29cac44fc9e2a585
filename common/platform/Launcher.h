#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace vts {

// A started program. isRunning() turns false once it has exited.
class ProcessHandle {
public:
    virtual ~ProcessHandle() = default;
    virtual bool isRunning() = 0;
    virtual qint64 pid() const = 0;
    // Asks the program to stop (SIGTERM); with `force`, ends it (SIGKILL).
    virtual void stop(bool force) = 0;
};

// The one seam for starting programs. A Windows program name "NAME.EXE" is
// found in `folder`: a file of that name in any letter case, else the
// lower-case name without ".EXE" ("VTSCONFIG.EXE" finds vtsconfig).
class Launcher {
public:
    struct Request {
        QString folder;            // where the program is looked for
        QString program;           // e.g. "calvex.exe", "VTSCONFIG.EXE", "VT.EXE"
        QStringList arguments;     // passed unchanged
        QString workingDirectory;  // empty: inherit
        bool watch = false;        // true: the handle reports when the program exits
    };
    virtual ~Launcher() = default;
    // Starts the program without waiting for it. Returns null when it could
    // not be found or started; `error` (when given) then says why.
    virtual std::shared_ptr<ProcessHandle> start(const Request& request,
                                                 QString* error = nullptr) = 0;

    // The executable path for `program` in `folder`, or empty when none.
    static QString resolveProgram(const QString& folder, const QString& program);
};

// Starts real processes (QProcess). Watched processes are kept as children
// of this launcher; unwatched ones are fully detached.
class ProcessLauncher final : public Launcher {
public:
    std::shared_ptr<ProcessHandle> start(const Request& request, QString* error = nullptr) override;
};

}  // namespace vts
