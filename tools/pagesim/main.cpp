// pagesim: simulated Hayes modems on pseudo-terminals, each connected on
// dialling to a strict paging terminal. Writes the matching calvex.ini,
// prints "ready" and records accepted pages (and calls) as JSON lines.
#include "Scenario.h"
#include "SimModem.h"
#include "Version.h"

#include <IniFile.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

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

struct Port {
    int com = 0;
    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up
    QString device, link;
    std::unique_ptr<vts::sim::SimModem> modem;
    QByteArray pending;  // output the pseudo-terminal could not take yet
};

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
    cl.addOptions(
        {dirOpt, portsOpt, pagesOpt, callsOpt, scenarioOpt, iniOpt, guardOpt, t4Opt, t5Opt});
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

    std::vector<Port> ports;
    for (const QString& item : cl.value(portsOpt).split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int com = item.trimmed().toInt(&ok);
        if (!ok || com < 1 || com > 99) {
            return die(QStringLiteral("bad COM port \"%1\"").arg(item));
        }
        Port p;
        p.com = com;
        ports.push_back(std::move(p));
    }
    if (ports.empty()) {
        return die(QStringLiteral("no ports"));
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
        p.modem = std::make_unique<vts::sim::SimModem>(
            com, scenario, timings, guard,
            [pagesFile, callsFile](const QString& kind, const QJsonObject& rec) {
                appendJsonLine(kind == u"page" ? pagesFile : callsFile, rec);
            });
        iniPorts.append({QStringLiteral("COM%1").arg(com), p.link});
        std::printf("COM%d %s %s\n", com, qPrintable(p.device), qPrintable(p.link));
    }
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

    std::vector<pollfd> fds(ports.size() + 2);
    for (;;) {
        double next = vts::sim::kNever;
        const double now0 = nowSeconds();
        for (size_t i = 0; i < ports.size(); ++i) {
            next = std::min(next, ports[i].modem->nextDeadline());
            fds[i] = {ports[i].master,
                      static_cast<short>(POLLIN | (ports[i].pending.isEmpty() ? 0 : POLLOUT)), 0};
        }
        fds[ports.size()] = {g_stopPipe[0], POLLIN, 0};
        fds[ports.size() + 1] = {watcher, POLLIN, 0};
        int timeoutMs = -1;
        if (next != vts::sim::kNever) {
            timeoutMs = next <= now0 ? 0 : static_cast<int>((next - now0) * 1000.0) + 1;
        }
        const int r = ::poll(fds.data(), fds.size(), timeoutMs);
        if (r < 0 && errno != EINTR) {
            return die(QStringLiteral("poll failed"));
        }
        if (fds[ports.size()].revents & POLLIN) {
            break;
        }
        const double now = nowSeconds();
        if (fds[ports.size() + 1].revents & POLLIN) {
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
                    ports[i].modem->lineClosed(now);
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
                    p.modem->receive(QByteArray(buf, n), now);
                }
            }
            p.modem->tick(now);
            p.pending += p.modem->takeOutput(now);
            if (p.pending.size() > 65536) {
                p.pending = p.pending.right(65536);  // nobody is reading
            }
            while (!p.pending.isEmpty()) {
                const ssize_t n =
                    ::write(p.master, p.pending.constData(), static_cast<size_t>(p.pending.size()));
                if (n <= 0) {
                    break;
                }
                p.pending.remove(0, n);
            }
        }
    }
    for (Port& p : ports) {
        QFile::remove(p.link);
    }
    return 0;
}
