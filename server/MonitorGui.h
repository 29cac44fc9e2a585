#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

class QObject;

namespace vts {

class AlertSound;
class Dialogs;
class MonitorCore;
class MonitorView;

// The server's face on a display: message boxes, the windows and the bundled
// alert sound, over a QApplication of its own. It lives in the window
// plug-in (libvtsmonitorgui.so), so that the program itself links Qt Core
// only; the program loads the plug-in when a display is there and runs
// headless without it.
class MonitorGui {
public:
    virtual ~MonitorGui() = default;
    virtual Dialogs& dialogs() = 0;
    virtual MonitorView& view() = 0;
    virtual AlertSound& sound() = 0;
    // The main window over `core`, which must outlive it.
    virtual std::unique_ptr<QObject> createWindow(MonitorCore& core) = 0;
};

namespace monitorgui {

inline constexpr char kFileName[] = "libvtsmonitorgui.so";
// The plug-in's one entry point, a C function of type CreateFunction. It
// makes the QApplication on argc and argv, which must outlive it.
inline constexpr char kCreateFunction[] = "vtsCreateMonitorGui";
using CreateFunction = MonitorGui* (*)(int& argc, char** argv);

// True when the server is to show its windows: a display is named (DISPLAY
// or WAYLAND_DISPLAY) and Qt is not told to draw offscreen or on its
// minimal platform.
bool displayPresent(const QProcessEnvironment& env);

// Where the plug-in is looked for, in order: the program's own folder, then
// the library folder of the tree it is installed in.
QStringList folders(const QString& programDir);

// The folder of the running program, known before any application object.
QString programDir();

// Loads the plug-in from the first of `folders` that holds it and makes its
// QApplication. Null, with the reason in `error`, when there is none or it
// cannot be loaded.
std::unique_ptr<MonitorGui> load(const QStringList& folders, int& argc, char** argv,
                                 QString* error);

}  // namespace monitorgui

}  // namespace vts
