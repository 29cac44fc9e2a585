// vtsweb: the web console of the server in the working directory.

#include "CommandLine.h"
#include "Journal.h"
#include "Paths.h"
#include "QtEventLoop.h"
#include "TextFile.h"
#include "Version.h"
#include "WebConfig.h"
#include "WebConsole.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>

namespace {

void onSignal(int) { QCoreApplication::quit(); }

// Qt's own notices (fonts, the offscreen platform) are not the console's.
void dropQtNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
    std::fprintf(stderr, "%s\n",
                 qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(dropQtNotices);
    // The reports draw their pages with Qt Gui, never on a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vtsweb"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vts::suiteVersion()));
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "The web console of the Vantrel server in the working directory; see vtsweb(8)."));
    cli.addHelpOption();
    cli.addVersionOption();
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Settings file (default: vtsweb.ini in the "
                                                   "working directory, else /etc/vantrel)."),
                                    QStringLiteral("file"));
    cli.addOption(config);
    if (const int done = vts::cli::parse(cli, QCoreApplication::arguments(), "vtsweb"); done >= 0) {
        return done;
    }
    const QString dir = QDir::currentPath();
    const QString file = cli.isSet(config)
                             ? cli.value(config)
                             : vts::paths::settingsFile(QStringLiteral("vtsweb.ini"), dir);
    QString text;
    if (QFile f(file); f.exists()) {
        if (!f.open(QIODevice::ReadOnly) || f.size() > qint64{1024} * 1024) {
            vts::journal::write(stderr, vts::journal::kError,
                                QStringLiteral("vtsweb: cannot read %1").arg(file));
            return 1;
        }
        text = QString::fromUtf8(f.readAll());
    }
    QString error;
    const auto settings = vts::web::WebConfig::parse(text, &error);
    if (!settings) {
        vts::journal::write(stderr, vts::journal::kError,
                            QStringLiteral("vtsweb: %1: %2").arg(file, error));
        return 1;
    }
    vts::QtEventLoop loop;
    vts::web::WebConsole console(dir, *settings, loop);
    if (!console.start(&error)) {
        vts::journal::write(stderr, vts::journal::kError, QStringLiteral("vtsweb: ") + error);
        return 1;
    }
    vts::journal::write(stdout, vts::journal::kInfo,
                        QStringLiteral("vtsweb listening on %1://%2:%3")
                            .arg(settings->tls() ? QStringLiteral("https") : QStringLiteral("http"),
                                 settings->address.toString())
                            .arg(console.port()));
    std::fflush(stdout);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    return app.exec();
}
