#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalSocket;

namespace vts {
class EventLoop;
class Timer;
}  // namespace vts

namespace vts::web {

// The console's link to the running server's control socket: it asks for
// the status every half second and follows the status lines and page
// events, keeping the latest of each; changed() is called when either
// changed, so open dashboards hear of it at once. Both sockets are
// reconnected when the server restarts. Nothing here waits: replies come
// through the event loop.
class ControlClient final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 500;
    static constexpr int kLines = 50;

    ControlClient(QString socketPath, EventLoop& loop, QObject* parent = nullptr);
    ~ControlClient() override;

    void start();
    // The last status object ({} while the server does not answer).
    const QJsonObject& status() const { return m_status; }
    bool connected() const { return !m_status.isEmpty(); }
    // The latest status lines, oldest first.
    const QStringList& lines() const { return m_lines; }
    // Called with "status" after a changed status, or "line" with the new line.
    void setListener(std::function<void(const QString& kind, const QJsonObject&)> listener) {
        m_listener = std::move(listener);
    }

    // One command on a connection of its own ({"cmd":"pending",...},
    // {"cmd":"reload"}); the answer object, or {"error":...} when the server
    // does not answer within two seconds.
    QJsonObject command(const QJsonObject& cmd) const;

    // The socket of the server in `workDir`: $RUNTIME_DIRECTORY of the
    // server's unit, the working directory, /run/vantrel.
    static QString findSocket(const QString& workDir);

private:
    void poll();
    void readStatus();
    void readFollow();
    void addLine(const QString& line);

    QString m_path;
    EventLoop& m_loop;
    std::unique_ptr<Timer> m_timer;
    QLocalSocket* m_statusSocket = nullptr;
    QLocalSocket* m_followSocket = nullptr;
    bool m_waiting = false;
    QJsonObject m_status;
    QStringList m_lines;
    std::function<void(const QString&, const QJsonObject&)> m_listener;
};

}  // namespace vts::web
