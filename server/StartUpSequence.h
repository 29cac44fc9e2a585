#pragma once

#include <QString>

#include <memory>

namespace vts {

class Dialogs;
class EventLoop;
class MonitorView;
class ResultRecorder;
class ServerStores;
class SingleCopyGuard;
class Timer;
struct ServerSettings;

// Brings the server from launch to its running state, in order: the
// single-copy lock, the configuration store's presence, the start-up window
// while the log store is made or tidied, the stores, the results an earlier
// run left in port files, the pager control, settings and modems, kept
// results, pending files back to the queue, Timer1 and the main window.
// Holds the working directory's lock for the run. A fatal step shows its
// message and ends the start; a stop asked for meanwhile ends it too.
class StartUpSequence final {
public:
    // What the start-up needs from the server around it.
    class Host {
    public:
        virtual ~Host() = default;
        virtual bool hasEnded() const = 0;
        // Ends the program before it ran: there is nothing to close.
        virtual void refuseStart() = 0;
        // Creates Pager1 on its saved form and connects its events.
        virtual void createPager() = 0;
        // False when the program must end.
        virtual bool LoadConfig() = 0;
        virtual void LoadModems() = 0;
        virtual void addStatus(const QString& text) = 0;
        virtual void closeStores() = 0;
        virtual const ServerSettings& settings() const = 0;
        virtual Timer& timer1() = 0;
    };

    struct Options {
        QString workingDir;
        int splashMs = 3000;
    };

    StartUpSequence(EventLoop& loop, Dialogs& dialogs, MonitorView& view, ServerStores& stores,
                    ResultRecorder& results, Host& host, Options options);
    ~StartUpSequence();

    // False when the program must end (a message has been shown, or a stop
    // came during the start).
    bool run();
    // The main window is up: from here on an exit runs the exit sequence.
    bool isDone() const { return m_done; }
    // Lets another server use the working directory.
    void releaseLock();

private:
    bool prepareLogStore();
    bool openStores();
    void clearTraceLogs();

    EventLoop& m_loop;
    Dialogs& m_dialogs;
    MonitorView& m_view;
    ServerStores& m_stores;
    ResultRecorder& m_results;
    Host& m_host;
    Options m_options;
    std::unique_ptr<SingleCopyGuard> m_guard;
    bool m_done = false;
};

}  // namespace vts
