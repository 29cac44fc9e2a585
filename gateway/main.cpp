// vtsgate: takes pages over SNPP, SMTP and HTTP and writes them into the queue
// folder as queue message files. Runs in a working directory made by
// vtsinit, with vtsgate.ini beside VTSCFG.MDB; logs one line per event on
// standard output.
#include "Accounts.h"
#include "CommandLine.h"
#include "ConfigStore.h"
#include "GatewayConfig.h"
#include "GatewayServer.h"
#include "Journal.h"
#include "PageSubmitter.h"
#include "Paths.h"
#include "QtEventLoop.h"

#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFds[2] = {-1, -1};

void onSignal(int signal) {
    const char c = signal == SIGHUP ? 'H' : 'T';
    // Nothing else is safe inside a signal handler; the loop reads the byte.
    [[maybe_unused]] const auto n = ::write(g_signalFds[0], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vtsgate"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VTS_VERSION));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Takes pages over SNPP, SMTP and HTTP and writes them as queue message files into the\n"
        "queue folder named by MessageQueueLocation in VTSCFG.MDB. Reads vtsgate.ini in the\n"
        "working directory, else in /etc/vantrel; see vtsgate(8)."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption dirOption(
        QStringLiteral("dir"), QStringLiteral("working directory (default: the current one)"),
        QStringLiteral("dir"));
    const QCommandLineOption iniOption(QStringLiteral("config"),
                                       QStringLiteral("settings file (default: vtsgate.ini there)"),
                                       QStringLiteral("file"));
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("check the settings file and exit"));
    const QCommandLineOption hashOption(
        QStringLiteral("hash-password"),
        QStringLiteral("read a password (or token) on standard input, print its hash for "
                       "[users] or [tokens], exit"));
    p.addOption(hashOption);
    p.addOption(dirOption);
    p.addOption(iniOption);
    p.addOption(checkOption);
    if (const int done = vts::cli::parse(p, app.arguments(), "vtsgate"); done >= 0) return done;

    auto die = [](const QString& why) {
        vts::journal::write(stderr, vts::journal::kError, QStringLiteral("vtsgate: ") + why);
        return 1;
    };
    if (p.isSet(hashOption)) {
        std::string line;
        std::getline(std::cin, line);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.empty()) {
            return die(QStringLiteral("no password on standard input"));
        }
        const QString hash = vts::gate::Accounts::hash(QByteArray::fromStdString(line));
        std::fill(line.begin(), line.end(), '\0');
        if (hash.isEmpty()) {
            return die(QStringLiteral("cannot hash the password"));
        }
        std::printf("%s\n", hash.toLatin1().constData());
        return 0;
    }
    if (p.isSet(dirOption) && !QDir::setCurrent(p.value(dirOption))) {
        return die(QStringLiteral("cannot change to %1").arg(p.value(dirOption)));
    }
    const QString workDir = QDir::currentPath();
    if (!vts::configstore::present(workDir)) {
        return die(QStringLiteral("no VTSCFG.MDB in %1 (make one with vtsinit)").arg(workDir));
    }
    vts::gate::ConfigSource config(
        p.isSet(iniOption) ? p.value(iniOption)
                           : vts::paths::settingsFile(QStringLiteral("vtsgate.ini"), workDir));
    QString error;
    if (!config.load(&error)) {
        return die(error);
    }
    vts::gate::GatewayLog log;
    for (const QString& w : config.current().warnings) {
        log.write(QStringLiteral("CONFIG"), QString(), w);
    }
    if (p.isSet(checkOption)) {
        std::printf("%s: %lld recipients\n", config.path().toLocal8Bit().constData(),
                    static_cast<long long>(config.current().recipients.size()));
        return config.current().warnings.isEmpty() ? 0 : 1;
    }

    vts::QtEventLoop loop;
    vts::gate::PageSubmitter desk(workDir, config, log, loop);
    {
        QString queueError;
        const QString queue = desk.queueFolder(&queueError);
        if (!queue.isEmpty()) {
            const int stale = vts::gate::PageSubmitter::removeStaleTemporaries(queue);
            if (stale > 0) {
                log.write(QStringLiteral("GATEWAY"), QString(),
                          QStringLiteral("removed %1 temporary files left by a stopped gateway")
                              .arg(stale));
            }
        }
    }
    vts::gate::GatewayServer server(desk, loop);
    if (!server.listen(config.current(), &error)) {
        return die(error);
    }
    if (config.current().http.enabled && config.current().token.isEmpty()) {
        log.write(QStringLiteral("HTTP"), QString(),
                  QStringLiteral("no token in [http]: every page request is refused"));
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0) {
        return die(QStringLiteral("cannot set up signal handling"));
    }
    QSocketNotifier notifier(g_signalFds[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&log, &server] {
        char c = 0;
        [[maybe_unused]] const auto n = ::read(g_signalFds[1], &c, 1);
        if (c == 'H') {  // SIGHUP: a renewed certificate
            server.reloadTls();
            return;
        }
        log.write(QStringLiteral("GATEWAY"), QString(), QStringLiteral("stopping"));
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    log.write(QStringLiteral("GATEWAY"), QString(),
              QStringLiteral("vtsgate %1 started in %2 with %3 recipients")
                  .arg(QCoreApplication::applicationVersion(), workDir)
                  .arg(config.current().recipients.size()));
    return QCoreApplication::exec();
}
