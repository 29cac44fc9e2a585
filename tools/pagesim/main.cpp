// pagesim: simulated Hayes modems on pseudo-terminals, each connected on
// dialling to a strict paging terminal; paging terminals, SNPP servers and
// WCTP endpoints on loopback TCP ports; GSM modems on pseudo-terminals.
// Writes the matching calvex.ini, prints "ready" and records accepted
// pages (and calls) as JSON lines.
#include "GsmModem.h"
#include "Scenario.h"
#include "SimModem.h"
#include "SnppSession.h"
#include "TapTcpSession.h"
#include "Version.h"
#include "WctpSession.h"

#include <IniFile.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
#include <memory>
#include <vector>

namespace {

int g_stopPipe[2] = {-1, -1};

// An option naming the COM ports one kind of endpoint serves ("1,2").
QCommandLineOption comListOption(const char* name, const char* help) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                              QStringLiteral("LIST"));
}

void onStop(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Port {
    int com = 0;
    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up
    QString device, link;
    std::unique_ptr<vts::sim::SimModem> modem;  // a Hayes modem, or
    std::unique_ptr<vts::sim::GsmModem> gsm;    // a GSM modem
    QByteArray pending;                         // output the pseudo-terminal could not take yet
};

enum class NetKind { Tap, Snpp, Wctp };

struct Listener {
    int com = 0;
    NetKind kind = NetKind::Tap;
    int fd = -1;
    quint16 port = 0;
    std::shared_ptr<vts::sim::WctpSession::PortState> wctp =
        std::make_shared<vts::sim::WctpSession::PortState>();
};

struct Connection {
    int fd = -1;
    std::unique_ptr<vts::sim::Session> session;
    QByteArray pending;
    bool closing = false;  // close once `pending` is out
};

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

void appendJsonLine(const QString& path, const QJsonObject& obj) {
    if (path.isEmpty()) {
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    f.write(QJsonDocument(obj).toJson(QJsonDocument::Compact) + '\n');
}

bool openPty(Port& p, QString* error) {
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
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pagesim"));
    QCommandLineParser cl;
    cl.setApplicationDescription(
        QStringLiteral("Simulated modems and paging terminal on pseudo-terminals."));
    cl.addHelpOption();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vts::suiteVersion()));
    cl.addVersionOption();
    const QCommandLineOption dirOpt(QStringLiteral("dir"),
                                    QStringLiteral("Folder for the device links COMn."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption portsOpt(QStringLiteral("ports"),
                                      QStringLiteral("COM port numbers, e.g. 1,2."),
                                      QStringLiteral("LIST"), QStringLiteral("1"));
    const QCommandLineOption pagesOpt(QStringLiteral("pages"),
                                      QStringLiteral("JSON-lines file of accepted pages."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption callsOpt(QStringLiteral("calls"),
                                      QStringLiteral("JSON-lines file of finished calls."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"),
                                         QStringLiteral("Behaviour per dialled number."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption iniOpt(QStringLiteral("ini"),
                                    QStringLiteral("calvex.ini to write (default DIR/calvex.ini)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption guardOpt(QStringLiteral("guard"),
                                      QStringLiteral("Escape guard time in seconds (default 0.2)."),
                                      QStringLiteral("S"), QStringLiteral("0.2"));
    const QCommandLineOption t4Opt(
        QStringLiteral("t4"),
        QStringLiteral("Terminal's wait for the next transaction (default 4)."),
        QStringLiteral("S"), QStringLiteral("4"));
    const QCommandLineOption t5Opt(QStringLiteral("t5"),
                                   QStringLiteral("Terminal's wait for a log-on (default 8)."),
                                   QStringLiteral("S"), QStringLiteral("8"));
    const QCommandLineOption tcpOpt =
        comListOption("tcp", "COM ports served by a paging terminal on a TCP port.");
    const QCommandLineOption snppOpt = comListOption("snpp", "COM ports served by an SNPP server.");
    const QCommandLineOption wctpOpt =
        comListOption("wctp", "COM ports served by a WCTP endpoint.");
    const QCommandLineOption gsmOpt = comListOption("gsm", "COM ports with a simulated GSM modem.");
    cl.addOptions({dirOpt, portsOpt, pagesOpt, callsOpt, scenarioOpt, iniOpt, guardOpt, t4Opt,
                   t5Opt, tcpOpt, snppOpt, wctpOpt, gsmOpt});
    cl.process(app);

    auto die = [](const QString& msg) {
        std::fprintf(stderr, "pagesim: %s\n", qPrintable(msg));
        return 1;
    };
    if (!cl.isSet(dirOpt)) {
        return die(QStringLiteral("--dir is required"));
    }
    const QString dir = QDir(cl.value(dirOpt)).absolutePath();
    if (!QDir().mkpath(dir)) {
        return die(QStringLiteral("cannot create %1").arg(dir));
    }

    vts::sim::Scenario scenario;
    if (cl.isSet(scenarioOpt)) {
        QString error;
        auto s = vts::sim::Scenario::load(cl.value(scenarioOpt), &error);
        if (!s) {
            return die(error);
        }
        scenario = *s;
    }
    bool ok1 = false, ok2 = false, ok3 = false;
    vts::sim::TapTerminal::Timings timings;
    const double guard = cl.value(guardOpt).toDouble(&ok1);
    timings.t4 = cl.value(t4Opt).toDouble(&ok2);
    timings.t5 = cl.value(t5Opt).toDouble(&ok3);
    if (!ok1 || !ok2 || !ok3 || guard < 0 || timings.t4 <= 0 || timings.t5 <= 0) {
        return die(QStringLiteral("bad --guard, --t4 or --t5"));
    }
    const QString pagesFile =
        cl.isSet(pagesOpt) ? QFileInfo(cl.value(pagesOpt)).absoluteFilePath() : QString();
    const QString callsFile =
        cl.isSet(callsOpt) ? QFileInfo(cl.value(callsOpt)).absoluteFilePath() : QString();

    // Without --ports, a simulated modem serves COM1 unless other kinds are asked for.
    const bool otherKinds =
        cl.isSet(tcpOpt) || cl.isSet(snppOpt) || cl.isSet(wctpOpt) || cl.isSet(gsmOpt);
    QList<int> used;
    auto comList = [&](const QString& text, QList<int>* out) {
        for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
            bool ok = false;
            const int com = item.trimmed().toInt(&ok);
            if (!ok || com < 1 || com > 99 || used.contains(com)) {
                std::fprintf(stderr, "pagesim: bad or repeated COM port \"%s\"\n",
                             qPrintable(item));
                return false;
            }
            used.append(com);
            out->append(com);
        }
        return true;
    };
    QList<int> modemComs, gsmComs, tcpComs, snppComs, wctpComs;
    if (!comList(cl.isSet(portsOpt) || !otherKinds ? cl.value(portsOpt) : QString(), &modemComs) ||
        !comList(cl.value(gsmOpt), &gsmComs) || !comList(cl.value(tcpOpt), &tcpComs) ||
        !comList(cl.value(snppOpt), &snppComs) || !comList(cl.value(wctpOpt), &wctpComs)) {
        return 1;
    }
    if (used.isEmpty()) {
        return die(QStringLiteral("no ports"));
    }
    std::vector<Port> ports;
    for (int com : modemComs + gsmComs) {
        Port p;
        p.com = com;
        ports.push_back(std::move(p));
    }

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return die(QStringLiteral("cannot create a pipe"));
    }
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const vts::sim::Sink sink = [pagesFile, callsFile](const QString& kind,
                                                       const QJsonObject& rec) {
        appendJsonLine(kind == u"page" ? pagesFile : callsFile, rec);
    };
    QList<QPair<QString, QString>> iniPorts;
    for (Port& p : ports) {
        QString error;
        if (!openPty(p, &error)) {
            return die(error);
        }
        p.link = dir + QStringLiteral("/COM%1").arg(p.com);
        QFile::remove(p.link);
        if (::symlink(QFile::encodeName(p.device).constData(),
                      QFile::encodeName(p.link).constData()) != 0) {
            return die(QStringLiteral("cannot create the link %1").arg(p.link));
        }
        const int com = p.com;
        if (gsmComs.contains(com)) {
            p.gsm = std::make_unique<vts::sim::GsmModem>(com, scenario, sink);
            iniPorts.append({QStringLiteral("COM%1").arg(com), QStringLiteral("gsm:") + p.link});
        } else {
            p.modem = std::make_unique<vts::sim::SimModem>(com, scenario, timings, guard, sink);
            iniPorts.append({QStringLiteral("COM%1").arg(com), p.link});
        }
        std::printf("COM%d %s %s\n", com, qPrintable(p.device), qPrintable(p.link));
    }
    std::vector<Listener> listeners;
    const QList<QPair<NetKind, QList<int>>> netKinds = {
        {NetKind::Tap, tcpComs}, {NetKind::Snpp, snppComs}, {NetKind::Wctp, wctpComs}};
    for (const auto& [kind, coms] : netKinds) {
        for (int com : coms) {
            Listener l;
            l.com = com;
            l.kind = kind;
            l.fd = listenLoopback(&l.port);
            if (l.fd < 0) {
                return die(QStringLiteral("cannot listen on a loopback port"));
            }
            const QString where = kind == NetKind::Tap
                                      ? QStringLiteral("tcp:127.0.0.1:%1").arg(l.port)
                                  : kind == NetKind::Snpp
                                      ? QStringLiteral("snpp:127.0.0.1:%1").arg(l.port)
                                      : QStringLiteral("wctp:http://127.0.0.1:%1/wctp").arg(l.port);
            iniPorts.append({QStringLiteral("COM%1").arg(com), where});
            std::printf("COM%d %s\n", com, qPrintable(where));
            listeners.push_back(l);
        }
    }
    std::sort(iniPorts.begin(), iniPorts.end(), [](const auto& a, const auto& b) {
        return a.first.mid(3).toInt() < b.first.mid(3).toInt();
    });
    // calvex.ini appears, complete, only once every port is ready.
    const QString iniPath =
        cl.isSet(iniOpt) ? cl.value(iniOpt) : dir + QStringLiteral("/calvex.ini");
    vts::IniFile ini = vts::IniFile::load(iniPath);
    ini.setSection(QStringLiteral("ports"), iniPorts);
    if (!ini.save(iniPath)) {
        return die(QStringLiteral("cannot write %1").arg(iniPath));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    // Closing the device is how a dialer drops DTR on a pseudo-terminal.
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::vector<int> watches;
    watches.reserve(ports.size());
    for (Port& p : ports) {
        watches.push_back(watcher < 0 ? -1
                                      : ::inotify_add_watch(watcher,
                                                            QFile::encodeName(p.device).constData(),
                                                            IN_CLOSE_WRITE));
    }

    std::vector<Connection> conns;
    std::vector<pollfd> fds;
    for (;;) {
        const double now0 = nowSeconds();
        double next = vts::sim::kNever;
        fds.clear();
        for (Port& p : ports) {
            next = std::min(next, p.modem ? p.modem->nextDeadline() : p.gsm->nextDeadline());
            fds.push_back(
                {p.master, static_cast<short>(POLLIN | (p.pending.isEmpty() ? 0 : POLLOUT)), 0});
        }
        for (const Listener& l : listeners) {
            fds.push_back({l.fd, POLLIN, 0});
        }
        for (const Connection& c : conns) {
            next = std::min(next, c.session->nextDeadline());
            fds.push_back(
                {c.fd, static_cast<short>(POLLIN | (c.pending.isEmpty() ? 0 : POLLOUT)), 0});
        }
        const size_t stopAt = fds.size();
        fds.push_back({g_stopPipe[0], POLLIN, 0});
        fds.push_back({watcher, POLLIN, 0});
        int timeoutMs = -1;
        if (next != vts::sim::kNever) {
            timeoutMs = next <= now0 ? 0 : static_cast<int>((next - now0) * 1000.0) + 1;
        }
        const int r = ::poll(fds.data(), fds.size(), timeoutMs);
        if (r < 0 && errno != EINTR) {
            return die(QStringLiteral("poll failed"));
        }
        if (fds[stopAt].revents & POLLIN) {
            break;
        }
        const double now = nowSeconds();
        if (fds[stopAt + 1].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            const ssize_t n = ::read(watcher, events, sizeof events);
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(events + off);
                for (size_t i = 0; i < ports.size(); ++i) {
                    if (watches[i] != ev->wd) {
                        continue;
                    }
                    // Hang up before reading anything more: what follows
                    // comes from the next dialer to open the line.
                    if (ports[i].modem) {
                        ports[i].modem->lineClosed(now);
                    } else {
                        ports[i].gsm->closed(now);
                    }
                    ports[i].pending.clear();
                }
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            }
        }
        for (size_t i = 0; i < ports.size(); ++i) {
            Port& p = ports[i];
            if (fds[i].revents & POLLIN) {
                char buf[1024];
                const ssize_t n = ::read(p.master, buf, sizeof buf);
                if (n > 0) {
                    if (p.modem) {
                        p.modem->receive(QByteArray(buf, n), now);
                    } else {
                        p.gsm->receive(QByteArray(buf, n), now);
                    }
                }
            }
            if (p.modem) {
                p.modem->tick(now);
                p.pending += p.modem->takeOutput(now);
            } else {
                p.gsm->tick(now);
                p.pending += p.gsm->takeOutput();
            }
            if (p.pending.size() > 65536) {
                p.pending = p.pending.right(65536);  // nobody is reading
            }
            flush(p.master, p.pending, false);
        }
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (!(fds[ports.size() + i].revents & POLLIN)) {
                continue;
            }
            const Listener& l = listeners[i];
            const int fd = ::accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            const vts::sim::Behaviour b = scenario.forPort(l.com);
            Connection c;
            c.fd = fd;
            switch (l.kind) {
                case NetKind::Tap:
                    c.session =
                        std::make_unique<vts::sim::TapTcpSession>(l.com, b, timings, now, sink);
                    break;
                case NetKind::Snpp:
                    c.session = std::make_unique<vts::sim::SnppSession>(l.com, b, now, sink);
                    break;
                case NetKind::Wctp:
                    c.session =
                        std::make_unique<vts::sim::WctpSession>(l.com, b, *l.wctp, now, sink);
                    break;
            }
            conns.push_back(std::move(c));
        }
        const size_t connBase = ports.size() + listeners.size();
        const size_t polled = stopAt - connBase;  // connections accepted now were not polled
        for (size_t i = 0; i < conns.size(); ++i) {
            Connection& c = conns[i];
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
        conns.erase(std::remove_if(conns.begin(), conns.end(),
                                   [](const Connection& c) { return c.fd < 0; }),
                    conns.end());
    }
    for (Connection& c : conns) {
        c.session->closed(nowSeconds());
        ::close(c.fd);
    }
    for (Port& p : ports) {
        QFile::remove(p.link);
    }
    return 0;
}
