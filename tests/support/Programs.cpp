#include "Programs.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

namespace vts::test {

QProcessEnvironment headlessEnv() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("VANTREL_SYSTEM_DIR"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

bool waitForOutput(QProcess& p, QString& seen, const QString& text, int ms) {
    QDeadlineTimer dl(ms);
    for (;;) {
        seen += QString::fromLocal8Bit(p.readAllStandardOutput());
        if (seen.contains(text)) {
            return true;
        }
        if (dl.hasExpired() || p.state() == QProcess::NotRunning) {
            return false;
        }
        p.waitForReadyRead(static_cast<int>(std::max<qint64>(dl.remainingTime(), 1)));
    }
}

void startPagesim(QProcess& sim, const QStringList& args, int ms) {
    sim.start(binDir() + QStringLiteral("/pagesim"), args);
    ASSERT_TRUE(sim.waitForStarted(5000));
    QString out;
    ASSERT_TRUE(waitForOutput(sim, out, QStringLiteral("ready\n"), ms))
        << "pagesim did not get ready: " << out.toStdString();
}

void startMonitor(QProcess& server, const QString& workDir) {
    server.setWorkingDirectory(workDir);
    server.setProcessEnvironment(headlessEnv());
    server.start(binDir() + QStringLiteral("/vtsmonitor"), QStringList());
    ASSERT_TRUE(server.waitForStarted(5000));
}

QHash<QString, QString> startGateway(QProcess& gate, QString& log, const QString& workDir, int ms) {
    gate.start(binDir() + QStringLiteral("/vtsgate"), {QStringLiteral("--dir"), workDir});
    if (!gate.waitForStarted(5000) ||
        !waitForOutput(gate, log, QStringLiteral(" started in "), ms)) {
        ADD_FAILURE() << "vtsgate did not start: " << log.toStdString();
        return {};
    }
    QHash<QString, QString> ports;
    static const QRegularExpression re(
        QStringLiteral("(SNPP|SMTP|HTTP) listening on 127.0.0.1:(\\d+)"));
    for (auto it = re.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        ports[m.captured(1)] = m.captured(2);
    }
    return ports;
}

ProgramRun runProgram(const QString& program, const QStringList& args, int ms) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForStarted(5000) || !p.waitForFinished(ms)) {
        r.out = QStringLiteral("did not run: ") + program;
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

void killProcess(QProcess& p) {
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
    }
}

QList<QJsonObject> jsonLines(const QByteArray& bytes) {
    QList<QJsonObject> out;
    for (const QByteArray& line : bytes.split('\n')) {
        if (!line.isEmpty()) {
            out << QJsonDocument::fromJson(line).object();
        }
    }
    return out;
}

}  // namespace vts::test
