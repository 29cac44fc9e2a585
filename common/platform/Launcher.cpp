#include "Launcher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

namespace vts {
namespace {

class QProcessHandle final : public ProcessHandle {
public:
    explicit QProcessHandle(std::unique_ptr<QProcess> p) : m_process(std::move(p)) {}
    ~QProcessHandle() override {
        // Leave a still-running program alone when the handle goes away.
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->disconnect();
            m_process.release()->setParent(nullptr);
        }
    }
    bool isRunning() override {
        if (m_process->state() == QProcess::NotRunning) return false;
        // Let QProcess notice an exit that the event loop has not yet seen.
        m_process->waitForFinished(0);
        return m_process->state() != QProcess::NotRunning;
    }
    qint64 pid() const override { return m_process->processId(); }
    void stop(bool force) override {
        if (m_process->state() == QProcess::NotRunning) return;
        if (force) {
            m_process->kill();
        } else {
            m_process->terminate();
        }
    }

private:
    std::unique_ptr<QProcess> m_process;
};

class DetachedHandle final : public ProcessHandle {
public:
    explicit DetachedHandle(qint64 pid) : m_pid(pid) {}
    bool isRunning() override { return true; }
    qint64 pid() const override { return m_pid; }
    void stop(bool force) override {
        if (m_pid > 0) ::kill(static_cast<pid_t>(m_pid), force ? SIGKILL : SIGTERM);
    }

private:
    qint64 m_pid;
};

}  // namespace

QString Launcher::resolveProgram(const QString& folder, const QString& program) {
    QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QStringList entries = dir.entryList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& e : entries)
        if (e.compare(program, Qt::CaseInsensitive) == 0) return dir.absoluteFilePath(e);
    QString base = program;
    if (base.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) base.chop(4);
    base = base.toLower();
    for (const QString& e : entries)
        if (e == base) return dir.absoluteFilePath(e);
    return {};
}

std::shared_ptr<ProcessHandle> ProcessLauncher::start(const Request& r, QString* error) {
    const QString path = resolveProgram(r.folder, r.program);
    if (path.isEmpty()) {
        if (error) *error = QStringLiteral("program not found: %1 in %2").arg(r.program, r.folder);
        return nullptr;
    }
    if (!r.watch) {
        qint64 pid = 0;
        if (!QProcess::startDetached(path, r.arguments, r.workingDirectory, &pid)) {
            if (error) *error = QStringLiteral("cannot start %1").arg(path);
            return nullptr;
        }
        return std::make_shared<DetachedHandle>(pid);
    }
    auto p = std::make_unique<QProcess>();
    p->setProgram(path);
    p->setArguments(r.arguments);
    if (!r.workingDirectory.isEmpty()) p->setWorkingDirectory(r.workingDirectory);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->start();
    if (!p->waitForStarted(10000)) {
        if (error) *error = p->errorString();
        return nullptr;
    }
    return std::make_shared<QProcessHandle>(std::move(p));
}

}  // namespace vts
