#pragma once

#include "ControlClient.h"
#include "Sessions.h"
#include "WebConfig.h"
#include "WebUsers.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrlQuery>

#include <functional>
#include <optional>

class QTcpSocket;

namespace vts {
class EventLoop;
}

namespace vts::web {

// One request as the handlers see it: its form fields (query and, for a
// POST, the url-encoded body) and the session it belongs to.
struct Request {
    QString method;
    QString path;
    QUrlQuery query;
    QUrlQuery form;
    QString peer;
    std::optional<Session> session;
    QString value(const QString& name) const;
};

struct Reply {
    int status = 200;
    QByteArray type = "text/html; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    void header(const QByteArray& name, const QByteArray& value) { headers.append({name, value}); }
    static Reply redirect(const QString& to);
    static Reply text(int status, const QString& text);
};

// vtsweb: the web console. Qt HttpServer parses HTTP (and TLS through
// QSslSocket); this class routes each request through one table that names
// the least role it needs, checks the session, the CSRF token and the
// origin of every change before a handler runs, and adds the security
// headers to every answer. Handlers render HTML on the server; the one
// script (assets/app.js) only fills the dashboard from /api/status and the
// event stream /events.
class WebConsole final : public QAbstractHttpServer {
    Q_OBJECT
public:
    WebConsole(QString workDir, WebConfig config, EventLoop& loop, QObject* parent = nullptr);
    ~WebConsole() override;

    // Listens as configured (TLS when set); false and *why when it cannot.
    bool start(QString* why);
    quint16 port() const { return m_port; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    using Handler = std::function<Reply(Request&)>;
    struct Route {
        QString method;
        QString path;  // exact, or a prefix ending in '/' when `prefix`
        bool prefix = false;
        std::optional<Role> role;  // nullopt: open without a session
        Handler handler;
    };
    void routes();
    void add(const QString& method, const QString& path, std::optional<Role> role, Handler h,
             bool prefix = false);
    void send(QTcpSocket* socket, const QHttpServerRequest& request, const Reply& reply);
    void openEvents(QTcpSocket* socket, const QHttpServerRequest& request);
    void broadcast(const QByteArray& event);
    QList<QPair<QByteArray, QByteArray>> securityHeaders() const;
    bool sameOrigin(const QHttpServerRequest& request) const;
    Reply view(Request& r, const QString& title, const QString& body, const QString& current);
    void audit(Request& r, const QString& action, const QString& item, const QString& oldValue,
               const QString& newValue);

    Reply loginPage(Request& r);
    Reply login(Request& r);
    Reply logout(Request& r);
    Reply dashboard(Request& r);
    Reply apiStatus(Request& r);
    Reply pages(Request& r);
    Reply pageDetail(Request& r);
    Reply pending(Request& r);
    Reply sendPage(Request& r);
    Reply sendPost(Request& r);
    Reply reports(Request& r);
    Reply reportDownload(Request& r);
    Reply settingsPage(Request& r);
    Reply settingsPost(Request& r);
    Reply portsPage(Request& r);
    Reply portsPost(Request& r);
    Reply clientsPage(Request& r);
    Reply clientsPost(Request& r);
    Reply recipientsPage(Request& r);
    Reply recipientsPost(Request& r);
    Reply purgePage(Request& r);
    Reply purgePost(Request& r);
    Reply usersPage(Request& r);
    Reply usersPost(Request& r);
    Reply auditPage(Request& r);
    Reply asset(Request& r);

    QString m_dir;
    WebConfig m_config;
    EventLoop& m_loop;
    quint16 m_port = 0;
    QTcpServer* m_server = nullptr;  // owned as a child; bounded sockets
    WebUsers m_users;
    Sessions m_sessions;
    LoginLimiter m_limiter;
    ControlClient m_control;
    QList<Route> m_routes;
    QList<QPointer<QTcpSocket>> m_streams;
};

}  // namespace vts::web
