#include "RunGuard.h"

#include "Line.h"

#include <PortRecord.h>

#include <sys/prctl.h>
#include <unistd.h>
#include <atomic>
#include <csignal>

namespace vts {

namespace {
std::atomic<pid_t> g_parent{0};
}  // namespace

RunGuard::RunGuard(const QString& dir, int portIndex)
    : m_lock(std::make_unique<PortLock>(dir, portIndex)) {}

RunGuard::~RunGuard() = default;

bool RunGuard::begin(QString* why) {
    g_parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have died before the request above took effect; the
    // process was then handed to init (or a subreaper) already.
    if (g_parent.load() == 1 || ::getppid() != g_parent.load()) {
        *why = QStringLiteral("the program that started this run has already ended");
        return false;
    }
    if (!m_lock->tryLock()) {
        *why = QStringLiteral("another dialer run holds this port");
        return false;
    }
    return true;
}

bool RunGuard::parentGone() {
    const pid_t p = g_parent.load();
    return p != 0 && ::getppid() != p;
}

}  // namespace vts
