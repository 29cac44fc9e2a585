#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace vts {

class SingleCopyGuard;

// The single-copy guard: one running updater per program folder. The first
// copy holds a lock file named "OnlyOne" + the first 20 characters of the
// application title in the program folder and listens on a local socket;
// a later copy finds the lock taken, asks the first copy through that
// socket to come to the front, and is told to quit. A lock left by a copy
// that died is taken over. The lock is released when the guard goes away.
// Only a lock held by a running copy means "another copy runs"; a folder
// the lock cannot be made in is reported through error().
class OnlyOne : public QObject {
    Q_OBJECT
public:
    OnlyOne(const QString& programFolder, const QString& appTitle, QObject* parent = nullptr);
    ~OnlyOne() override;

    // "OnlyOne" + the first 20 characters of the title.
    static QString guardName(const QString& appTitle);
    QString lockPath() const { return m_lockPath; }
    QString serverName() const { return m_serverName; }

    // True when this is the first copy (it now listens for later ones).
    // False when another copy runs (that copy has been asked to come
    // forward), or when the lock cannot be taken at all (error() says why).
    bool claim();
    bool isFirst() const { return m_first; }
    // Empty unless the last claim() failed for a reason other than another
    // running copy (a program folder that cannot be written); names the folder.
    const QString& error() const { return m_error; }

signals:
    // A later copy asked this one to come to the front.
    void raiseRequested();

private:
    void onNewConnection();

    QString m_lockPath;
    QString m_serverName;
    std::unique_ptr<SingleCopyGuard> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    bool m_first = false;
    QString m_error;
};

}  // namespace vts
