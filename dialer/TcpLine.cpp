#include "TcpLine.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vts {

namespace {

bool stopRequested() { return Cancellation::requested() && Cancellation::watched(); }

// Waits for `events` on fd until the deadline or a stop request: 1 ready, 0 timeout, -1 stopped.
int waitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        if (stopRequested()) {
            return -1;
        }
        pollfd p[2] = {{fd, events, 0}, {Cancellation::wakeFd(), POLLIN, 0}};
        const bool watchCancel = p[1].fd >= 0 && Cancellation::watched();
        const int r = ::poll(p, watchCancel ? 2 : 1, pollTimeoutMs(deadline));
        if (r > 0 && p[0].revents != 0) {
            return 1;
        }
        if (Clock::now() >= deadline) {
            return 0;
        }
    }
}

// The system resolver, asynchronously, so the deadline and stop requests
// hold. A look-up still running when either ends is left to its helper
// thread: the request lives on the heap and is never freed then, since
// the resolver cannot be interrupted and waiting for it (up to its own
// time-outs times its attempts) is what the deadline forbids.
int resolve(const QByteArray& host, const QByteArray& service, Deadline deadline, addrinfo** result,
            QString* error) {
    struct Lookup {
        QByteArray host, service;
        addrinfo hints{};
        gaicb request{};
    };
    auto* lookup = new Lookup{host, service, {}, {}};
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->host.constData();
    lookup->request.ar_service = lookup->service.constData();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        delete lookup;
        *error = QStringLiteral("cannot start resolving %1").arg(QString::fromUtf8(host));
        return -1;
    }
    for (;;) {
        const int state = ::gai_error(&lookup->request);
        if (state != EAI_INPROGRESS) {
            if (state != 0) {
                *error = QStringLiteral("cannot resolve %1: %2")
                             .arg(QString::fromUtf8(host),
                                  QString::fromLocal8Bit(::gai_strerror(state)));
                delete lookup;
                return -1;
            }
            *result = lookup->request.ar_result;
            delete lookup;
            return 0;
        }
        if (stopRequested() || Clock::now() >= deadline) {
            if (::gai_cancel(&lookup->request) == EAI_CANCELED) {
                delete lookup;
            }  // else still running: left to its thread, see above
            *error = stopRequested()
                         ? QStringLiteral("stopped")
                         : QStringLiteral("no address for %1 in time").arg(QString::fromUtf8(host));
            return -1;
        }
        // A stop request interrupts the suspension with EINTR.
        const timespec slice{0, 100'000'000};
        ::gai_suspend(list, 1, &slice);
    }
}

}  // namespace

int waitForSocket(int fd, short events, Deadline deadline) { return waitFor(fd, events, deadline); }

TcpLine::~TcpLine() { close(); }

QStringList TcpLine::resolveHost(const QString& host, quint16 port, Deadline deadline,
                                 QString* error) {
    addrinfo* addresses = nullptr;
    if (resolve(host.toUtf8(), QByteArray::number(port), deadline, &addresses, error) != 0) {
        return {};
    }
    QStringList out;
    for (addrinfo* a = addresses; a; a = a->ai_next) {
        char text[NI_MAXHOST] = {};
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) != 0) {
            continue;
        }
        const QString address = a->ai_family == AF_INET6 ? u'[' + QString::fromLatin1(text) + u']'
                                                         : QString::fromLatin1(text);
        if (!out.contains(address)) {
            out << address;
        }
    }
    ::freeaddrinfo(addresses);
    if (out.isEmpty()) {
        *error = QStringLiteral("no address for %1").arg(host);
    }
    return out;
}

void TcpLine::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
}

bool TcpLine::connect(const QString& host, quint16 port, Deadline deadline, QString* error) {
    close();
    addrinfo* addresses = nullptr;
    if (resolve(host.toUtf8(), QByteArray::number(port), deadline, &addresses, error) != 0) {
        return false;
    }
    QString lastError = QStringLiteral("no address for %1").arg(host);
    for (addrinfo* a = addresses; a; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        int err = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                const int w = waitFor(fd, POLLOUT, deadline);
                if (w <= 0) {
                    ::close(fd);
                    ::freeaddrinfo(addresses);
                    *error = w < 0 ? QStringLiteral("stopped")
                                   : QStringLiteral("no connection to %1 port %2 in time")
                                         .arg(host)
                                         .arg(port);
                    return false;
                }
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
        }
        if (err != 0) {
            lastError = QStringLiteral("cannot connect to %1 port %2: %3")
                            .arg(host)
                            .arg(port)
                            .arg(QString::fromLocal8Bit(std::strerror(err)));
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_fd = fd;
        break;
    }
    ::freeaddrinfo(addresses);
    if (m_fd < 0) {
        *error = lastError;
        return false;
    }
    return true;
}

bool TcpLine::write(const QByteArray& bytes) {
    if (m_fd < 0) {
        return false;
    }
    qsizetype done = 0;
    const Deadline deadline = deadlineIn(30);
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.constData() + done,
                                 static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
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
        if (waitFor(m_fd, POLLOUT, deadline) <= 0) {
            return false;
        }
    }
    return true;
}

LineWait TcpLine::read(QByteArray& out, Deadline deadline) {
    if (m_fd < 0) {
        return LineWait::Closed;
    }
    for (;;) {
        const int w = waitFor(m_fd, POLLIN, deadline);
        if (w < 0) {
            return LineWait::Cancelled;
        }
        if (w == 0) {
            return LineWait::Timeout;
        }
        char buf[4096];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n > 0) {
            out.append(buf, n);
            return LineWait::Data;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return LineWait::Closed;
        }
    }
}

bool TcpLine::awaitClose(Deadline deadline) {
    QByteArray ignored;
    for (;;) {
        const LineWait w = read(ignored, deadline);
        if (w == LineWait::Closed) {
            return true;
        }
        if (w != LineWait::Data) {
            return false;
        }
        ignored.clear();
    }
}

}  // namespace vts
