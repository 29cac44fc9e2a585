#include "OnlyOne.h"

#include "SingleCopyGuard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace vts {
namespace {

constexpr const char* kRaise = "raise\n";
constexpr int kIpcWaitMs = 2000;

QString fileSafe(QString s) {
    for (QChar& c : s)
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20) c = u'_';
    return s;
}

}  // namespace

OnlyOne::OnlyOne(const QString& programFolder, const QString& appTitle, QObject* parent)
    : QObject(parent) {
    const QString name = fileSafe(guardName(appTitle));
    const QString folder = QDir(programFolder).canonicalPath().isEmpty()
                               ? QDir(programFolder).absolutePath()
                               : QDir(programFolder).canonicalPath();
    m_lockPath = QDir(folder).filePath(name + QStringLiteral(".lock"));
    const QByteArray hash =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    m_serverName = name.simplified().remove(u' ') + u'-' + QString::fromLatin1(hash);
}

OnlyOne::~OnlyOne() {
    if (m_server) m_server->close();
    m_lock.reset();
}

QString OnlyOne::guardName(const QString& appTitle) {
    return QStringLiteral("OnlyOne") + appTitle.left(20);
}

bool OnlyOne::claim() {
    if (m_first) return true;
    m_error.clear();
    m_lock = std::make_unique<SingleCopyGuard>(QFileInfo(m_lockPath).path(),
                                               QFileInfo(m_lockPath).fileName());
    if (m_lock->acquire()) {
        m_first = true;
        m_server = std::make_unique<QLocalServer>();
        QLocalServer::removeServer(m_serverName);  // left over from a copy that died
        connect(m_server.get(), &QLocalServer::newConnection, this, &OnlyOne::onNewConnection);
        m_server->listen(m_serverName);
        return true;
    }
    if (!m_lock->otherCopyRunning()) {
        m_error = m_lock->errorText();
        m_lock.reset();
        return false;
    }
    m_lock.reset();
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (socket.waitForConnected(kIpcWaitMs)) {
        socket.write(kRaise);
        socket.waitForBytesWritten(kIpcWaitMs);
        socket.disconnectFromServer();
    }
    return false;
}

void OnlyOne::onNewConnection() {
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, s] {
            const QByteArray got = s->read(64);
            if (got.startsWith("raise")) emit raiseRequested();
            s->disconnectFromServer();
        });
    }
}

}  // namespace vts
