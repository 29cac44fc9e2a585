#pragma once

#include "Dialogs.h"
#include "EventLoop.h"
#include "Launcher.h"
#include "ProgramFolder.h"
#include "ServerAddress.h"

#include <QObject>

namespace vts {

// What the updater's windows share: its program folder, the update server,
// the seams, and the endings every path leads to. Declining records the
// decision in UPDATED.TXT and asks for the instructions window; once that
// closes, startClientAndQuit() starts VT.EXE (without waiting) and asks the
// program to quit.
class UpdaterActions : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kWarningTitle = "Vantrel Update Program";

    UpdaterActions(ProgramFolder folder, ServerAddress server, EventLoop& loop, Dialogs& dialogs,
                   Launcher& launcher, QObject* parent = nullptr);

    const ProgramFolder& folder() const { return m_folder; }
    const ServerAddress& server() const { return m_server; }
    EventLoop& loop() const { return m_loop; }
    Dialogs& dialogs() const { return m_dialogs; }

    // Writes UPDATED.TXT with the loop's current time; warns when it cannot.
    void recordDecision();
    // Declining: records the decision, then asks for the instructions window.
    // Does nothing once the program is ending.
    void decline();
    // Starts VT.EXE and asks the program to quit, once: every later call
    // (windows closing on the way out, a second ending) does nothing.
    void startClientAndQuit();
    // True once startClientAndQuit() ran: the program is on its way out.
    bool ending() const { return m_ending; }
    // Tells the user which files could not be written (nothing when none).
    void warnUnwritten(const QStringList& files);

signals:
    void instructionsRequested();
    void quitRequested();

private:
    ProgramFolder m_folder;
    ServerAddress m_server;
    EventLoop& m_loop;
    Dialogs& m_dialogs;
    Launcher& m_launcher;
    bool m_ending = false;
};

}  // namespace vts
