#pragma once

#include <QString>

#include <memory>

namespace vts {

class PortLock;

// What ties one dialer run to the server that started it and to its port:
// the run ends when that server ends (the kernel sends the stop signal,
// handled like any other stop: hang up, mark what is unfinished), and the
// run holds the port's lock so no other run and no control resetting the
// port can touch the port file meanwhile.
class RunGuard final {
public:
    RunGuard(const QString& dir, int portIndex);
    ~RunGuard();

    // Asks for the stop signal on the parent's death and takes the port
    // lock. False (with *why set) when the run must not touch the port file:
    // the server that started it is already gone, or another run holds the
    // port.
    bool begin(QString* why);

    // True once the process that started this run has ended or is ending.
    static bool parentGone();
    // Whether a stop request came from the end of the starting process:
    // decided at the first call, giving a dying parent a moment to be seen
    // as gone.
    static bool stoppedByParentDeath();

private:
    std::unique_ptr<PortLock> m_lock;
};

}  // namespace vts
