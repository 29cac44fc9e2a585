#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>

// Start-up notices from Qt itself that an operator cannot act on: Qt falls
// back to a private runtime folder when the session sets none (a service,
// cron, su), and Qt Multimedia reports a machine without a sound server,
// where the programs use the terminal bell instead. Each program installs
// quietStart() first thing in main(), before the application object, so a
// normal start prints only what the programs themselves have to say.
namespace vts {

// True for the notices above; every other message passes.
inline bool isStartupNoise(QtMsgType type, const QString& message) {
    if (type != QtWarningMsg && type != QtInfoMsg && type != QtDebugMsg) return false;
    return message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
           message.startsWith(QLatin1String("PulseAudioService: pa_context_connect() failed"));
}

namespace quietstart {
inline QtMessageHandler& previous() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void filter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (isStartupNoise(type, message)) return;
    if (QtMessageHandler next = previous()) {
        next(type, context, message);
        return;
    }
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}
}  // namespace quietstart

// True when the session has no display (neither DISPLAY nor
// WAYLAND_DISPLAY) and no Qt platform was chosen (QT_QPA_PLATFORM), so a
// program whose work is its windows can say so at once instead of waiting
// for input nobody can give.
inline bool noDisplay() {
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// What such a program writes to standard error before it ends with status 1.
inline void sayNoDisplay(const char* program, const char* instead) {
    std::fprintf(stderr,
                 "%s: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); its windows need "
                 "one. %s\n",
                 program, instead);
}

// Installs the filter in front of the message handler in use.
inline void quietStart() {
    QtMessageHandler before = qInstallMessageHandler(quietstart::filter);
    if (before != quietstart::filter) quietstart::previous() = before;
}

}  // namespace vts
