#pragma once

// Running the suite's own programs (pagesim, vtsmonitor, vtsgate, ...) from
// end-to-end tests: starting them, waiting for what they print, stopping them.
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vts::test {

// The environment of a server run without a display and without the
// system-wide folder, so it works on this test's own files only.
QProcessEnvironment headlessEnv();

// Appends what `p` writes on standard output to `seen` until `seen` holds
// `text`; false when `ms` pass or `p` ends first.
bool waitForOutput(QProcess& p, QString& seen, const QString& text, int ms);

// Starts pagesim with `args` and waits up to `ms` for its "ready" line.
void startPagesim(QProcess& sim, const QStringList& args, int ms = 10000);

// Starts vtsmonitor without a display in `workDir`.
void startMonitor(QProcess& server, const QString& workDir);

// Starts vtsgate on `workDir`, waits up to `ms` for its start line and
// returns the port each listener took ("SNPP", "SMTP", "HTTP"), as its log
// names them; what it logged is in `log`.
QHash<QString, QString> startGateway(QProcess& gate, QString& log, const QString& workDir, int ms);

struct ProgramRun {
    int code = -1;  // -1: did not start, did not end in time, or crashed
    QString out;    // standard output and errors
};
// Runs a program to its end within `ms`.
ProgramRun runProgram(const QString& program, const QStringList& args, int ms = 60000);

// Kills `p` when it still runs and waits for its end.
void killProcess(QProcess& p);

// The JSON object of each line of a record file (pages.jsonl, calls.jsonl).
QList<QJsonObject> jsonLines(const QByteArray& bytes);

}  // namespace vts::test
