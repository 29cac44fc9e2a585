#include "RunGuard.h"

#include "Line.h"

#include <PortRecord.h>

#include <QFile>

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

bool RunGuard::stoppedByParentDeath() {
    static const bool gone = [] {
        for (int i = 0; i < 5; ++i) {
            if (parentGone()) {
                return true;
            }
            ::usleep(20 * 1000);
        }
        return false;
    }();
    return gone;
}

bool RunGuard::parentGone() {
    const pid_t p = g_parent.load();
    if (p == 0) {
        return false;
    }
    if (::getppid() != p) {
        return true;
    }
    // The stop signal comes when the thread that started this run ends;
    // while the rest of a killed server is still being torn down the run is
    // not yet handed to another parent, but the server's main thread is
    // already a zombie.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(p));
    if (!stat.open(QIODevice::ReadOnly)) {
        return true;
    }
    const QByteArray line = stat.read(4096);
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size()) {
        return false;
    }
    const char state = line.at(close + 2);
    return state == 'Z' || state == 'X' || state == 'x';
}

}  // namespace vts
