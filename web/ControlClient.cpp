#include "ControlClient.h"

#include "EventLoop.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>

namespace vts::web {

namespace {
constexpr qint64 kMaxLine = qint64{1024} * 1024;
}

ControlClient::ControlClient(QString socketPath, EventLoop& loop, QObject* parent)
    : QObject(parent), m_path(std::move(socketPath)), m_loop(loop) {
    m_statusSocket = new QLocalSocket(this);
    m_followSocket = new QLocalSocket(this);
    connect(m_statusSocket, &QLocalSocket::readyRead, this, &ControlClient::readStatus);
    connect(m_followSocket, &QLocalSocket::readyRead, this, &ControlClient::readFollow);
    connect(m_statusSocket, &QLocalSocket::disconnected, this, [this] { m_waiting = false; });
    connect(m_followSocket, &QLocalSocket::connected, this,
            [this] { m_followSocket->write("{\"cmd\":\"follow\"}\n"); });
}

ControlClient::~ControlClient() = default;

QString ControlClient::findSocket(const QString& workDir) {
    const QString name = QStringLiteral("vtsmonitor.sock");
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("VANTREL_MONITOR_RUNTIME");
    if (!runtime.isEmpty()) candidates << QDir(runtime).filePath(name);
    candidates << QDir(workDir).filePath(name) << QStringLiteral("/run/vantrel/") + name;
    for (const QString& c : candidates)
        if (QFileInfo::exists(c)) return c;
    return candidates.first();
}

void ControlClient::start() {
    m_timer = m_loop.createTimer(kPollMs, [this] { poll(); });
    m_timer->start();
    poll();
}

void ControlClient::poll() {
    if (m_followSocket->state() == QLocalSocket::UnconnectedState) {
        m_followSocket->connectToServer(m_path);
    }
    if (m_statusSocket->state() == QLocalSocket::UnconnectedState) {
        m_waiting = false;
        m_statusSocket->connectToServer(m_path);
        if (m_statusSocket->state() == QLocalSocket::UnconnectedState && !m_status.isEmpty()) {
            m_status = {};
            if (m_listener) m_listener(QStringLiteral("status"), m_status);
        }
    }
    if (m_statusSocket->state() == QLocalSocket::ConnectedState && !m_waiting) {
        m_waiting = true;
        m_statusSocket->write("{\"cmd\":\"status\"}\n");
    }
}

void ControlClient::readStatus() {
    while (m_statusSocket->canReadLine()) {
        m_waiting = false;
        const QJsonObject o = QJsonDocument::fromJson(m_statusSocket->readLine()).object();
        if (m_lines.isEmpty()) {
            for (const auto& l : o.value("lines").toArray()) m_lines << l.toString();
        }
        if (o != m_status) {
            m_status = o;
            if (m_listener) m_listener(QStringLiteral("status"), m_status);
        }
    }
    if (m_statusSocket->bytesAvailable() > kMaxLine) m_statusSocket->abort();
}

void ControlClient::addLine(const QString& line) {
    m_lines << line;
    while (m_lines.size() > kLines) m_lines.removeFirst();
}

void ControlClient::readFollow() {
    while (m_followSocket->canReadLine()) {
        const QJsonObject o = QJsonDocument::fromJson(m_followSocket->readLine()).object();
        if (o.contains("line")) {
            addLine(o.value("line").toString());
            if (m_listener) m_listener(QStringLiteral("line"), o);
        } else if (o.contains("event")) {
            if (m_listener) m_listener(QStringLiteral("event"), o);
            poll();
        }
    }
    if (m_followSocket->bytesAvailable() > kMaxLine) m_followSocket->abort();
}

QJsonObject ControlClient::command(const QJsonObject& cmd) const {
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(1000)) {
        return {
            {"error", QStringLiteral("the server is not running (no answer at %1)").arg(m_path)}};
    }
    socket.write(QJsonDocument(cmd).toJson(QJsonDocument::Compact) + '\n');
    socket.waitForBytesWritten(1000);
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(2000)) {
            return {{"error", QStringLiteral("the server did not answer")}};
        }
    }
    QJsonObject answer = QJsonDocument::fromJson(socket.readLine()).object();
    if (answer.isEmpty()) return {{"error", QStringLiteral("the server gave no answer")}};
    return answer;
}

}  // namespace vts::web
