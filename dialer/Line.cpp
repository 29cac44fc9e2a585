#include "Line.h"

#include "TraceLog.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace vts {

Deadline deadlineIn(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double secondsLeft(Deadline d) { return std::chrono::duration<double>(d - Clock::now()).count(); }

namespace {

std::atomic<bool> g_requested{false};
std::atomic<bool> g_watched{true};
int g_pipe[2] = {-1, -1};

void onSignal(int) {
    g_requested.store(true);
    if (g_pipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &c, 1);
    }
}

speed_t speedConstant(int speed) {
    switch (speed) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

}  // namespace

namespace heartbeat {
namespace {
int g_fd = -1;
Clock::time_point g_last;
}  // namespace

void setFile(const QString& path) {
    if (g_fd >= 0) {
        ::close(g_fd);
    }
    g_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    g_last = Clock::time_point{};
    beat();
}

void beat() {
    const auto now = Clock::now();
    if (g_fd < 0 || now - g_last < std::chrono::seconds(5)) {
        return;
    }
    g_last = now;
    ::futimens(g_fd, nullptr);
}
}  // namespace heartbeat

int pollTimeoutMs(Deadline deadline) {
    heartbeat::beat();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 10000 ? 10000 : static_cast<int>(left) + 1;
}

void Cancellation::install() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    // A paging service that hangs up must not kill the dialer through a
    // broken pipe or a lost controlling terminal.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
}
bool Cancellation::requested() { return g_requested.load(); }
int Cancellation::wakeFd() { return g_pipe[0]; }
void Cancellation::setWatched(bool on) { g_watched.store(on); }
bool Cancellation::watched() { return g_watched.load(); }
void Cancellation::request() { onSignal(0); }

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const QString& path, const LineSettings& s, double lockWaitSeconds,
                      QString* error) {
    close();
    m_notice.clear();
    auto fail = [&](const QString& why) {
        if (error) {
            *error = why;
        }
        close();
        return false;
    };
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        return fail(QStringLiteral("cannot open %1: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!::isatty(m_fd)) {
        return fail(QStringLiteral("%1 is not a serial device").arg(path));
    }
    // One dialer per device: a second batch for the same COM port waits.
    const Deadline lockDeadline = deadlineIn(lockWaitSeconds);
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return fail(QStringLiteral("cannot lock %1").arg(path));
        }
        if (Clock::now() >= lockDeadline) {
            return fail(QStringLiteral("%1 stays in use by another dialer").arg(path));
        }
        pollfd p{Cancellation::watched() ? Cancellation::wakeFd() : -1, POLLIN, 0};
        ::poll(&p, 1, 200);
        if (Cancellation::requested() && Cancellation::watched()) {
            return fail(QStringLiteral("stopped"));
        }
    }
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) {
        return fail(QStringLiteral("cannot read line settings of %1: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    if (s.parity == 'E') {
        t.c_cflag |= PARENB;
    }
    if (s.parity == 'O') {
        t.c_cflag |= PARENB | PARODD;
    }
#ifdef CMSPAR
    if (s.parity == 'M') {
        t.c_cflag |= PARENB | PARODD | CMSPAR;
    }
    if (s.parity == 'S') {
        t.c_cflag |= PARENB | CMSPAR;
    }
#endif
    if (s.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (s.flow == 'X') {
        t.c_iflag |= IXON | IXOFF;
    }
    if (s.flow == 'R') {
        t.c_cflag |= CRTSCTS;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speedConstant(s.speed));
    ::cfsetospeed(&t, speedConstant(s.speed));
    if (::tcsetattr(m_fd, TCSANOW, &t) != 0) {
        // Pseudo-terminals carry no parity and may refuse 7-bit or parity
        // settings: fall back to 8N1 there (received bytes are masked to 7
        // bits anyway).
        const int err = errno;
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
        t.c_cflag |= CS8;
        if (err != EINVAL || ::tcsetattr(m_fd, TCSANOW, &t) != 0) {
            errno = err;
            return fail(QStringLiteral("cannot set line settings of %1: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        }
        m_notice = QStringLiteral("%1 refused %2 data bits with parity %3; using 8N1")
                       .arg(path)
                       .arg(s.dataBits)
                       .arg(QLatin1Char(s.parity));
    }
    ::tcflush(m_fd, TCIOFLUSH);
    int dtr = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(m_fd, TIOCMBIS, &dtr);  // fails harmlessly on a pseudo-terminal
    return true;
}

void SerialPort::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
}

bool SerialPort::write(const QByteArray& bytes) {
    if (m_fd < 0) {
        return false;
    }
    qsizetype done = 0;
    const Deadline deadline = deadlineIn(30);
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, pollTimeoutMs(deadline));
    }
    return true;
}

LineWait SerialPort::read(QByteArray& out, Deadline deadline) {
    if (m_fd < 0) {
        return LineWait::Closed;
    }
    for (;;) {
        if (Cancellation::requested() && Cancellation::watched()) {
            return LineWait::Cancelled;
        }
        pollfd p[2] = {{m_fd, POLLIN, 0}, {Cancellation::wakeFd(), POLLIN, 0}};
        const bool watchCancel = p[1].fd >= 0 && Cancellation::watched();
        const int r = ::poll(p, watchCancel ? 2 : 1, pollTimeoutMs(deadline));
        if (r < 0 && errno != EINTR) {
            return LineWait::Closed;
        }
        if (r > 0 && (p[0].revents & POLLIN)) {
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, n);
                return LineWait::Data;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return LineWait::Closed;
            }
        } else if (r > 0 && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            return LineWait::Closed;
        }
        if (Clock::now() >= deadline) {
            return LineWait::Timeout;
        }
    }
}

bool SerialPort::pulseDtr(int ms) {
    if (m_fd < 0) {
        return false;
    }
    int dtr = TIOCM_DTR;
    if (::ioctl(m_fd, TIOCMBIC, &dtr) != 0) {
        return false;
    }
    ::poll(nullptr, 0, ms);
    ::ioctl(m_fd, TIOCMBIS, &dtr);
    return true;
}

bool Channel::send(const QByteArray& bytes) {
    m_trace.sent(bytes);
    return m_device.write(bytes);
}

LineWait Channel::receive(Deadline deadline) {
    QByteArray got;
    const LineWait w = m_device.read(got, deadline);
    if (!got.isEmpty()) {
        for (char& c : got) {
            c = static_cast<char>(c & 0x7F);
        }
        m_trace.received(got);
        m_buffer.append(got);
    }
    return w;
}

}  // namespace vts
