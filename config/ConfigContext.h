#pragma once

#include <QString>

#include <functional>

namespace vts {

class Dialogs;

// What every window of the configuration program needs from its
// surroundings: the working directory holding the stores, the message-box
// seam, the way to end the program and the way to open a folder in the
// desktop's file manager. The program fills it once in main(); tests fill it
// with a temporary directory, scripted dialogs and recorders.
struct ConfigContext {
    QString workDir;     // folder holding VTSCFG.MDB (the working directory)
    QString programDir;  // folder of the running program (free-space drive)
    Dialogs* dialogs = nullptr;
    // Ends the program; callers return at once after calling it.
    std::function<void()> endProgram;
    // Opens a folder in the file manager; false when that failed.
    std::function<bool(const QString& folder)> openFolder;
};

}  // namespace vts
