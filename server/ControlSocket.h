#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace vts {

// The running server's control socket: a Unix domain socket speaking JSON
// lines. A client writes one command per line and reads one JSON object
// per line back:
//   {"cmd":"status"} (or the bare word status)  one object, the server's state
//   {"cmd":"follow"}  every status line and page event from then on
//   {"cmd":"reload"}  the settings are read again; {"ok":true}
//   {"cmd":"pending","action":"retry"|"delete","name":"A1.PMF"}
//                     a message file sent again or deleted, unless the
//                     server still has its page in hand; {"ok":true,
//                     "done":"..."} or {"error":"..."}
// The socket file's owner and group are the access control (mode 0660).
// Bounded: at most kMaxClients at once (one more is told so and closed);
// a client that lets kMaxBacklog bytes pile up unread is dropped. Writes
// are buffered by the event loop and never wait, so no client can block
// or slow the server's thread.
class ControlSocket final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    static constexpr qint64 kMaxBacklog = qint64{256} * 1024;
    static constexpr int kMaxLine = 4096;

    struct Hooks {
        std::function<QJsonObject()> status;
        std::function<bool()> reload;
        // (action, name): what was done, or *error.
        std::function<QString(const QString&, const QString&, QString*)> pending;
    };

    explicit ControlSocket(Hooks hooks, QObject* parent = nullptr);
    ~ControlSocket() override;

    // The socket's folder: $RUNTIME_DIRECTORY when systemd gives one, else
    // the working directory.
    static QString folder(const QString& workingDir);
    static QString fileName() { return QStringLiteral("vtsmonitor.sock"); }

    // Listens at folder/vtsmonitor.sock, replacing a file a dead server
    // left; false with *why when it cannot.
    bool listen(const QString& folder, QString* why);
    QString path() const;

    // A status line, as the list shows it, to every following client.
    void statusLine(const QString& line);
    // A page event ("submitted", "sent", "failed", "cancelled", "retried").
    void pageEvent(const QString& event, const QString& id, const QString& cause = {});

    int clientCount() const { return static_cast<int>(m_clients.size()); }
    // Clients dropped for not reading (or for an endless line).
    int dropped() const { return m_dropped; }

private:
    struct Client {
        QLocalSocket* socket = nullptr;
        QByteArray input;
        bool following = false;
    };
    void accept();
    void readFrom(QLocalSocket* socket);
    void answer(Client& c, const QByteArray& line);
    void send(Client& c, const QJsonObject& object);
    void broadcast(const QJsonObject& object);
    void drop(QLocalSocket* socket);
    Client* find(QLocalSocket* socket);

    Hooks m_hooks;
    QLocalServer* m_server = nullptr;
    QList<Client> m_clients;
    int m_dropped = 0;
};

}  // namespace vts
