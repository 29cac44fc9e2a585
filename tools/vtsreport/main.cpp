// vtsreport: the Reports page's report from a script or a cron job. Run in
// the working directory that holds VTSLog.MDB and the layout files; it takes
// the page's criteria as options, builds the same selection formula and
// description, and writes a PDF (or, for a name ending in .csv, a CSV file).

#include "CommandLine.h"
#include "Conversions.h"
#include "Dialogs.h"
#include "ReportsPageLogic.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>

#include <cstdio>

namespace {

int indexOf(const QStringList& names, const QString& value) {
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(value, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    bool ok = false;
    const int n = value.toInt(&ok);
    return ok && n >= 0 && n < names.size() ? n : -1;
}

void fail(const QString& text) {
    std::fprintf(stderr, "vtsreport: %s\n", text.toLocal8Bit().constData());
}

// Everything this program has to say it writes itself; Qt's own notices
// (fonts, runtime folders, the offscreen platform) only confuse a script's
// output. Critical and fatal messages still pass.
void dropQtNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
    std::fprintf(stderr, "%s\n",
                 qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(dropQtNotices);
    // Fonts and PDF output need a GUI application but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("vtsreport"));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Writes a message log report of the working directory to a PDF or CSV file."));
    cli.addHelpOption();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vts::suiteVersion()));
    cli.addVersionOption();
    const QCommandLineOption type({QStringLiteral("t"), QStringLiteral("type")},
                                  QStringLiteral("Report type: normal, fulltext or summary."),
                                  QStringLiteral("type"), QStringLiteral("normal"));
    const QCommandLineOption sort(
        {QStringLiteral("s"), QStringLiteral("sort")},
        QStringLiteral("Sort by date, sender, recipient, tap or department."),
        QStringLiteral("field"), QStringLiteral("date"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("all, successful, failed or cancelled."),
                                    QStringLiteral("status"), QStringLiteral("all"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("First day, MM/DD/YYYY."),
                                  QStringLiteral("date"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Last day, MM/DD/YYYY."),
                                QStringLiteral("date"));
    const QCommandLineOption sender(QStringLiteral("sender"),
                                    QStringLiteral("Senders beginning with this text."),
                                    QStringLiteral("text"));
    const QCommandLineOption department(QStringLiteral("department"),
                                        QStringLiteral("Departments beginning with this text."),
                                        QStringLiteral("text"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The file to write (.pdf or .csv)."),
                                    QStringLiteral("file"));
    cli.addOptions({type, sort, status, from, to, sender, department, output});
    if (const int done = vts::cli::parse(cli, QCoreApplication::arguments(), "vtsreport");
        done >= 0) {
        return done;
    }

    if (!cli.positionalArguments().isEmpty()) {
        return vts::cli::refuse(
            cli, "vtsreport",
            QStringLiteral("unexpected argument %1").arg(cli.positionalArguments().first()));
    }
    if (!cli.isSet(output) || cli.value(output).trimmed().isEmpty()) {
        return vts::cli::refuse(cli, "vtsreport", QStringLiteral("--output is required"));
    }

    vts::report::ReportsPageState state;
    state.reportTypeIndex =
        indexOf({QStringLiteral("normal"), QStringLiteral("fulltext"), QStringLiteral("summary")},
                cli.value(type));
    state.sortIndex =
        indexOf({QStringLiteral("date"), QStringLiteral("sender"), QStringLiteral("recipient"),
                 QStringLiteral("tap"), QStringLiteral("department")},
                cli.value(sort));
    const int statusIndex = indexOf({QStringLiteral("all"), QStringLiteral("successful"),
                                     QStringLiteral("failed"), QStringLiteral("cancelled")},
                                    cli.value(status));
    if (state.reportTypeIndex < 0 || state.sortIndex < 0 || statusIndex < 0) {
        fail(QStringLiteral("unknown report type, sort or status; see --help"));
        return 2;
    }
    auto& c = state.criteria;
    c.statusIndex = statusIndex;
    c.statusText = vts::report::statusEntries().at(statusIndex);
    if (cli.isSet(from) || cli.isSet(to)) {
        const auto f = vts::conv::parseDateTime(cli.value(from));
        const auto t = vts::conv::parseDateTime(cli.value(to));
        if (!f || !t) {
            fail(QStringLiteral("--from and --to need dates such as 07/31/1998"));
            return 2;
        }
        c.selectDate = true;
        c.from = f->date();
        c.to = t->date();
    }
    c.sender = cli.value(sender);
    c.department = cli.value(department);

    vts::report::ReportEngine engine(QDir::currentPath());
    engine.setPrintFileName(QDir::current().absoluteFilePath(cli.value(output)));
    vts::ConsoleDialogs dialogs;
    dialogs.setDefaultTitle(QStringLiteral("vtsreport"));
    vts::report::ReportsPageLogic logic(engine, dialogs);
    const auto outcome = logic.printClick(1, state);
    std::printf("Selection formula: %s\n", logic.lastSelection().formula.toLocal8Bit().constData());
    std::fflush(stdout);
    return outcome == vts::report::ReportsPageLogic::Outcome::Ran ? 0 : 1;
}
