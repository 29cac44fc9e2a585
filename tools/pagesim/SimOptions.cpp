#include "SimOptions.h"

#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>

namespace vts::sim {

namespace {

QCommandLineOption option(const char* name, const char* help, const char* value,
                          const char* fallback = nullptr) {
    return {QString::fromLatin1(name), QString::fromLatin1(help), QString::fromLatin1(value),
            fallback ? QString::fromLatin1(fallback) : QString()};
}

// "1,2" into COM port numbers none of which is in `used` yet.
bool comList(const QString& text, QList<int>& used, QList<int>* out, QString* error) {
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int com = item.trimmed().toInt(&ok);
        if (!ok || com < 1 || com > 99 || used.contains(com)) {
            *error = QStringLiteral("bad or repeated COM port \"%1\"").arg(item);
            return false;
        }
        used.append(com);
        out->append(com);
    }
    return true;
}

}  // namespace

std::optional<SimOptions> SimOptions::parse(const QCoreApplication& app, QString* error) {
    QCommandLineParser cl;
    cl.setApplicationDescription(
        QStringLiteral("Simulated modems and paging terminal on pseudo-terminals."));
    cl.addHelpOption();
    cl.addVersionOption();
    const QCommandLineOption opts[] = {
        option("dir", "Folder for the device links COMn.", "DIR"),
        option("pages", "JSON-lines file of accepted pages.", "FILE"),
        option("calls", "JSON-lines file of finished calls.", "FILE"),
        option("scenario", "Behaviour per dialled number.", "FILE"),
        option("ini", "calvex.ini to write (default DIR/calvex.ini).", "FILE"),
        option("guard", "Escape guard time in seconds (default 0.2).", "S", "0.2"),
        option("t4", "Terminal's wait for the next transaction (default 4).", "S", "4"),
        option("t5", "Terminal's wait for a log-on (default 8).", "S", "8")};
    const auto& [dirOpt, pagesOpt, callsOpt, scenarioOpt, iniOpt, guardOpt, t4Opt, t5Opt] = opts;
    cl.addOptions({std::begin(opts), std::end(opts)});
    const auto kinds = endpointKinds();
    for (const EndpointKind& k : kinds) {
        cl.addOption(option(k.option, k.help, "LIST", k.defaultList));
    }
    if (const int done = cli::parse(cl, app.arguments(), "pagesim"); done >= 0) {
        std::exit(done);
    }

    auto fail = [error](const QString& why) -> std::optional<SimOptions> {
        *error = why;
        return std::nullopt;
    };
    SimOptions o;
    if (!cl.isSet(dirOpt)) {
        return fail(QStringLiteral("--dir is required"));
    }
    o.dir = QDir(cl.value(dirOpt)).absolutePath();
    if (!QDir().mkpath(o.dir)) {
        return fail(QStringLiteral("cannot create %1").arg(o.dir));
    }
    if (cl.isSet(scenarioOpt)) {
        auto s = Scenario::load(cl.value(scenarioOpt), error);
        if (!s) {
            return std::nullopt;
        }
        o.scenario = *s;
    }
    bool ok1 = false, ok2 = false, ok3 = false;
    o.guard = cl.value(guardOpt).toDouble(&ok1);
    o.timings.t4 = cl.value(t4Opt).toDouble(&ok2);
    o.timings.t5 = cl.value(t5Opt).toDouble(&ok3);
    if (!ok1 || !ok2 || !ok3 || o.guard < 0 || o.timings.t4 <= 0 || o.timings.t5 <= 0) {
        return fail(QStringLiteral("bad --guard, --t4 or --t5"));
    }
    auto file = [&cl](const QCommandLineOption& opt) {
        return cl.isSet(opt) ? QFileInfo(cl.value(opt)).absoluteFilePath() : QString();
    };
    o.pagesFile = file(pagesOpt);
    o.callsFile = file(callsOpt);
    o.iniPath = cl.isSet(iniOpt) ? cl.value(iniOpt) : o.dir + QStringLiteral("/calvex.ini");

    // A kind's default list (the modem on COM1) counts only when no kind is asked for.
    const bool anySet = std::any_of(kinds.begin(), kinds.end(), [&cl](const EndpointKind& k) {
        return cl.isSet(QString::fromLatin1(k.option));
    });
    QList<int> used;
    o.coms.resize(kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        const QString name = QString::fromLatin1(kinds[i].option);
        if (!comList(cl.isSet(name) || !anySet ? cl.value(name) : QString(), used, &o.coms[i],
                     error)) {
            return std::nullopt;
        }
    }
    if (used.isEmpty()) {
        return fail(QStringLiteral("no ports"));
    }
    return o;
}

}  // namespace vts::sim
