#include "Simulator.h"

#include <QFile>
#include <QJsonDocument>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace vts::sim {

namespace {

int g_stopPipe[2] = {-1, -1};

void onStop(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int listenLoopback(quint16* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;  // an ephemeral port
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// Writes what it can without blocking; false when the peer is gone.
bool flush(int fd, QByteArray& pending, bool socket) {
    while (!pending.isEmpty()) {
        const ssize_t n =
            socket
                ? ::send(fd, pending.constData(), static_cast<size_t>(pending.size()), MSG_NOSIGNAL)
                : ::write(fd, pending.constData(), static_cast<size_t>(pending.size()));
        if (n > 0) {
            pending.remove(0, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        return !socket;
    }
    return true;
}

}  // namespace

struct Simulator::Pty {
    int com = 0;
    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up
    QString device, link;
    std::unique_ptr<Session> session;
    QByteArray pending;  // output the pseudo-terminal could not take yet
};

struct Simulator::Listener {
    int com = 0;
    int fd = -1;
    SessionFactory accept;
};

struct Simulator::Connection {
    int fd = -1;
    std::unique_ptr<Session> session;
    QByteArray pending;
};

Simulator::Simulator(QString dir) : m_dir(std::move(dir)) {
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

Simulator::~Simulator() {
    for (Connection& c : m_connections) {
        c.session->closed(nowSeconds());
        ::close(c.fd);
    }
    for (Pty& p : m_ptys) {
        QFile::remove(p.link);
    }
}

Sink Simulator::recorder(const QString& pagesFile, const QString& callsFile) {
    return [pagesFile, callsFile](const QString& kind, const QJsonObject& rec) {
        const QString& path = kind == u"page" ? pagesFile : callsFile;
        QFile f(path);
        if (path.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Append)) {
            return;
        }
        f.write(QJsonDocument(rec).toJson(QJsonDocument::Compact) + '\n');
    };
}

bool Simulator::add(const EndpointKind& kind, const EndpointContext& context, QString* error) {
    const int com = context.com;
    const QString entry = QString::fromLatin1(kind.entry);
    if (!kind.pty) {
        Listener l;
        l.com = com;
        quint16 port = 0;
        l.fd = listenLoopback(&port);
        if (l.fd < 0) {
            *error = QStringLiteral("cannot listen on a loopback port");
            return false;
        }
        l.accept = kind.start(context);
        m_listeners.push_back(std::move(l));
        m_entries.append({com, entry.arg(port)});
        std::printf("COM%d %s\n", com, qPrintable(entry.arg(port)));
        return true;
    }
    Pty& p = m_ptys.emplace_back();
    p.com = com;
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal");
        return false;
    }
    p.device = QString::fromLocal8Bit(::ptsname(p.master));
    p.slave = ::open(::ptsname(p.master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.slave < 0) {
        *error = QStringLiteral("cannot open %1").arg(p.device);
        return false;
    }
    termios t{};
    ::tcgetattr(p.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(p.slave, TCSANOW, &t);
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    p.link = m_dir + QStringLiteral("/COM%1").arg(com);
    QFile::remove(p.link);
    if (::symlink(QFile::encodeName(p.device).constData(), QFile::encodeName(p.link).constData()) !=
        0) {
        *error = QStringLiteral("cannot create the link %1").arg(p.link);
        return false;
    }
    p.session = kind.start(context)(nowSeconds());
    m_entries.append({com, entry.arg(p.link)});
    std::printf("COM%d %s %s\n", com, qPrintable(p.device), qPrintable(p.link));
    return true;
}

QList<QPair<QString, QString>> Simulator::iniPorts() const {
    auto sorted = m_entries;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QPair<QString, QString>> out;
    for (const auto& [com, value] : sorted) {
        out.append({QStringLiteral("COM%1").arg(com), value});
    }
    return out;
}

bool Simulator::run(QString* error) {
    if (g_stopPipe[0] < 0) {
        *error = QStringLiteral("cannot create a pipe");
        return false;
    }
    // Closing the device is how a dialer drops DTR on a pseudo-terminal.
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::vector<int> watches;
    watches.reserve(m_ptys.size());
    for (Pty& p : m_ptys) {
        watches.push_back(watcher < 0 ? -1
                                      : ::inotify_add_watch(watcher,
                                                            QFile::encodeName(p.device).constData(),
                                                            IN_CLOSE_WRITE));
    }
    std::vector<pollfd> fds;
    for (;;) {
        const double now0 = nowSeconds();
        double next = kNever;
        fds.clear();
        for (Pty& p : m_ptys) {
            next = std::min(next, p.session->nextDeadline());
            fds.push_back(
                {p.master, static_cast<short>(POLLIN | (p.pending.isEmpty() ? 0 : POLLOUT)), 0});
        }
        for (const Listener& l : m_listeners) {
            fds.push_back({l.fd, POLLIN, 0});
        }
        for (const Connection& c : m_connections) {
            next = std::min(next, c.session->nextDeadline());
            fds.push_back(
                {c.fd, static_cast<short>(POLLIN | (c.pending.isEmpty() ? 0 : POLLOUT)), 0});
        }
        const size_t stopAt = fds.size();
        fds.push_back({g_stopPipe[0], POLLIN, 0});
        fds.push_back({watcher, POLLIN, 0});
        int timeoutMs = -1;
        if (next != kNever) {
            timeoutMs = next <= now0 ? 0 : static_cast<int>((next - now0) * 1000.0) + 1;
        }
        const int r = ::poll(fds.data(), fds.size(), timeoutMs);
        if (r < 0 && errno != EINTR) {
            *error = QStringLiteral("poll failed");
            return false;
        }
        if (fds[stopAt].revents & POLLIN) {
            return true;
        }
        const double now = nowSeconds();
        if (fds[stopAt + 1].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            const ssize_t n = ::read(watcher, events, sizeof events);
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(events + off);
                for (size_t i = 0; i < m_ptys.size(); ++i) {
                    if (watches[i] != ev->wd) {
                        continue;
                    }
                    // Hang up before reading anything more: what follows
                    // comes from the next dialer to open the line.
                    m_ptys[i].session->closed(now);
                    m_ptys[i].pending.clear();
                }
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            }
        }
        for (size_t i = 0; i < m_ptys.size(); ++i) {
            Pty& p = m_ptys[i];
            if (fds[i].revents & POLLIN) {
                char buf[1024];
                const ssize_t n = ::read(p.master, buf, sizeof buf);
                if (n > 0) {
                    p.session->receive(QByteArray(buf, n), now);
                }
            }
            p.session->tick(now);
            p.pending += p.session->takeOutput();
            if (p.pending.size() > 65536) {
                p.pending = p.pending.right(65536);  // nobody is reading
            }
            flush(p.master, p.pending, false);
        }
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            if (!(fds[m_ptys.size() + i].revents & POLLIN)) {
                continue;
            }
            const int fd =
                ::accept4(m_listeners[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                m_connections.push_back({fd, m_listeners[i].accept(now), {}});
            }
        }
        const size_t connBase = m_ptys.size() + m_listeners.size();
        const size_t polled = stopAt - connBase;  // connections accepted now were not polled
        for (size_t i = 0; i < m_connections.size(); ++i) {
            Connection& c = m_connections[i];
            bool gone = false;
            if (i < polled && (fds[connBase + i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[4096];
                const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                if (n > 0) {
                    c.session->receive(QByteArray(buf, n), now);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    gone = true;
                }
            }
            c.session->tick(now);
            if (c.session->dropNow()) {
                c.pending.clear();
                gone = true;
            } else {
                c.pending += c.session->takeOutput();
                if (!flush(c.fd, c.pending, true)) {
                    gone = true;
                }
                if (c.session->wantsClose() && c.pending.isEmpty()) {
                    gone = true;
                }
            }
            if (gone) {
                c.session->closed(now);
                ::close(c.fd);
                c.fd = -1;
            }
        }
        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [](const Connection& c) { return c.fd < 0; }),
                            m_connections.end());
    }
}

}  // namespace vts::sim
