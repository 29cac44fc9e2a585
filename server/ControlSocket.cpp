#include "ControlSocket.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>

namespace vts {

ControlSocket::ControlSocket(Hooks hooks, QObject* parent)
    : QObject(parent), m_hooks(std::move(hooks)), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    m_server->setMaxPendingConnections(kMaxClients);
    connect(m_server, &QLocalServer::newConnection, this, &ControlSocket::accept);
}

ControlSocket::~ControlSocket() {
    for (Client& c : m_clients) c.socket->disconnect(this);
    const QString file = path();
    m_server->close();
    if (!file.isEmpty()) QFile::remove(file);
}

QString ControlSocket::folder(const QString& workingDir) {
    // systemd may give several folders separated by colons; the first is ours.
    const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY").section(u':', 0, 0);
    return runtime.isEmpty() ? workingDir : runtime;
}

bool ControlSocket::listen(const QString& folder, QString* why) {
    const QString file = QDir(folder).filePath(fileName());
    // Only a socket is replaced: a server that ended without cleaning up left
    // it; the single-copy guard already made sure no server runs here.
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        QLocalServer::removeServer(file);
    }
    if (!m_server->listen(file)) {
        *why = QStringLiteral("%1: %2").arg(file, m_server->errorString());
        return false;
    }
    return true;
}

QString ControlSocket::path() const { return m_server->fullServerName(); }

ControlSocket::Client* ControlSocket::find(QLocalSocket* socket) {
    for (Client& c : m_clients)
        if (c.socket == socket) return &c;
    return nullptr;
}

void ControlSocket::accept() {
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
        if (m_clients.size() >= kMaxClients) {
            s->write(R"({"error":"too many clients"})"
                     "\n");
            s->disconnectFromServer();
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            continue;
        }
        m_clients.append({s, {}, false});
        connect(s, &QLocalSocket::readyRead, this, [this, s] { readFrom(s); });
        connect(s, &QLocalSocket::disconnected, this, [this, s] { drop(s); });
    }
}

void ControlSocket::readFrom(QLocalSocket* socket) {
    Client* c = find(socket);
    if (!c) return;
    c->input += socket->readAll();
    for (qsizetype nl = c->input.indexOf('\n'); nl >= 0; nl = c->input.indexOf('\n')) {
        const QByteArray line = c->input.left(nl).trimmed();
        c->input.remove(0, nl + 1);
        answer(*c, line);
        if (!(c = find(socket))) return;  // dropped while answering
    }
    if (c->input.size() > kMaxLine) {
        ++m_dropped;
        drop(socket);
    }
}

void ControlSocket::answer(Client& c, const QByteArray& line) {
    if (line.isEmpty()) return;
    QString cmd = QString::fromUtf8(line);
    QJsonObject args;
    if (line.startsWith('{')) {
        args = QJsonDocument::fromJson(line).object();
        cmd = args.value("cmd").toString();
    }
    if (cmd == QLatin1String("status")) {
        send(c, m_hooks.status ? m_hooks.status() : QJsonObject{});
    } else if (cmd == QLatin1String("follow")) {
        c.following = true;
        send(c, {{"following", true}});
    } else if (cmd == QLatin1String("reload")) {
        const bool ok = m_hooks.reload && m_hooks.reload();
        send(c, {{"ok", ok}});
    } else if (cmd == QLatin1String("pending") && m_hooks.pending) {
        QString error;
        const QString done =
            m_hooks.pending(args.value("action").toString(), args.value("name").toString(), &error);
        if (done.isEmpty()) {
            send(c, {{"error", error.isEmpty() ? QStringLiteral("nothing done") : error}});
        } else {
            send(c, {{"ok", true}, {"done", done}});
        }
    } else {
        send(c, {{"error", QStringLiteral("unknown command; status, follow, reload or pending")}});
    }
}

void ControlSocket::send(Client& c, const QJsonObject& object) {
    if (c.socket->bytesToWrite() > kMaxBacklog) {
        // It does not read: dropped, so its backlog cannot grow without end.
        ++m_dropped;
        drop(c.socket);
        return;
    }
    c.socket->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void ControlSocket::broadcast(const QJsonObject& object) {
    QList<QLocalSocket*> following;
    for (const Client& c : m_clients)
        if (c.following) following << c.socket;
    for (QLocalSocket* s : following)
        if (Client* c = find(s)) send(*c, object);
}

void ControlSocket::statusLine(const QString& line) { broadcast({{"line", line}}); }

void ControlSocket::pageEvent(const QString& event, const QString& id, const QString& cause) {
    QJsonObject o{{"event", event}, {"id", id}};
    if (!cause.isEmpty()) o.insert("cause", cause);
    broadcast(o);
}

void ControlSocket::drop(QLocalSocket* socket) {
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i].socket != socket) continue;
        m_clients.removeAt(i);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        return;
    }
}

}  // namespace vts
