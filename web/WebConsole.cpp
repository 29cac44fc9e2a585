#include "WebConsole.h"

#include "BoundedServer.h"
#include "ClientList.h"
#include "ConfigSettings.h"
#include "ConfigStore.h"
#include "CtlShared.h"
#include "Database.h"
#include "DeliveryStore.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "GatewayConfig.h"
#include "Html.h"
#include "IniFile.h"
#include "LogStore.h"
#include "ModemList.h"
#include "PageSearch.h"
#include "PageSubmitter.h"
#include "Paths.h"
#include "PurgeLogic.h"
#include "QueueFileWriter.h"
#include "ReportsPageLogic.h"
#include "Routes.h"
#include "SelectionFormula.h"
#include "Statuses.h"
#include "Transport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>

namespace vts::web {

using html::escape;

namespace {

constexpr int kMaxStreams = 32;
constexpr int kMaxField = 4000;
const QString kCookie = QStringLiteral("vtsweb_session");

// The report engine's messages, kept for the answer instead of a window.
class CollectingDialogs final : public Dialogs {
public:
    Answer show(const QString& text, const QString&, Icon, Buttons) override {
        m_texts << text;
        return Answer::Yes;
    }
    QString texts() const { return m_texts.join(QStringLiteral("; ")); }

private:
    QStringList m_texts;
};

QString cookieOf(const QHttpServerRequest& request) {
    for (const QByteArray& part : request.value("Cookie").split(';')) {
        const QByteArray p = part.trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq > 0 && QString::fromLatin1(p.left(eq)) == kCookie) {
            return QString::fromLatin1(p.mid(eq + 1));
        }
    }
    return {};
}

QUrlQuery formOf(const QByteArray& body) {
    QByteArray b = body;
    b.replace('+', "%20");
    return QUrlQuery(QString::fromUtf8(b));
}

QString cell(const QString& text) { return QStringLiteral("<td>%1</td>").arg(escape(text)); }

QList<QPair<QString, QString>> roleOptions() {
    return {{QStringLiteral("viewer"), QStringLiteral("viewer (reads)")},
            {QStringLiteral("operator"), QStringLiteral("operator (sends, retries)")},
            {QStringLiteral("administrator"), QStringLiteral("administrator (everything)")}};
}

}  // namespace

QString Request::value(const QString& name) const {
    const QUrlQuery& q = method == QLatin1String("POST") ? form : query;
    return q.queryItemValue(name, QUrl::FullyDecoded).left(kMaxField);
}

Reply Reply::redirect(const QString& to) {
    Reply r;
    r.status = 303;
    r.header("Location", to.toUtf8());
    return r;
}

Reply Reply::text(int status, const QString& text) {
    Reply r;
    r.status = status;
    r.type = "text/plain; charset=utf-8";
    r.body = text.toUtf8() + '\n';
    return r;
}

WebConsole::WebConsole(QString workDir, WebConfig config, EventLoop& loop, QObject* parent)
    : QAbstractHttpServer(parent),
      m_dir(std::move(workDir)),
      m_config(std::move(config)),
      m_loop(loop),
      m_users(m_dir),
      m_sessions(m_config.idleSeconds),
      m_limiter(m_config.attempts, m_config.windowSeconds, m_config.lockoutSeconds),
      m_control(ControlClient::findSocket(m_dir), loop) {
    routes();
    m_control.setListener([this](const QString& kind, const QJsonObject& o) {
        if (kind == QLatin1String("line")) {
            broadcast("event: line\ndata: " + QJsonDocument(o).toJson(QJsonDocument::Compact) +
                      "\n\n");
        } else if (kind == QLatin1String("status")) {
            Request none;
            broadcast("event: status\ndata: " + apiStatus(none).body + "\n\n");
        }
    });
}

WebConsole::~WebConsole() = default;

bool WebConsole::start(QString* why) {
    if (m_config.tls()) {
        QFile certFile(m_config.cert);
        QFile keyFile(m_config.key);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("cannot read [tls] cert %1 or key %2")
                       .arg(m_config.cert, m_config.key);
            return false;
        }
        const auto chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
        const QByteArray keyPem = keyFile.readAll();
        QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
        if (chain.isEmpty() || key.isNull()) {
            *why = QStringLiteral("[tls] cert or key is not a PEM certificate and key");
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto* server = new web::BoundedSslServer(this);
        server->setSslConfiguration(tls);
        m_server = server;
    } else {
        m_server = new web::BoundedTcpServer(this);
    }
    m_port = m_server->listen(m_config.address, m_config.port) ? m_server->serverPort() : 0;
    if (m_port != 0) bind(m_server);
    if (m_port == 0) {
        *why = QStringLiteral("cannot listen on %1:%2")
                   .arg(m_config.address.toString())
                   .arg(m_config.port);
        return false;
    }
    m_control.start();
    return true;
}

// ---------------------------------------------------------------- routing

void WebConsole::add(const QString& method, const QString& path, std::optional<Role> role,
                     Handler h, bool prefix) {
    m_routes.append({method, path, prefix, role, std::move(h)});
}

void WebConsole::routes() {
    const auto V = Role::Viewer;
    const auto O = Role::Operator;
    const auto A = Role::Administrator;
    auto bind = [this](Reply (WebConsole::*fn)(Request&)) {
        return [this, fn](Request& r) { return (this->*fn)(r); };
    };
    const std::optional<Role> open;
    add("GET", "/login", open, bind(&WebConsole::loginPage));
    add("POST", "/login", open, bind(&WebConsole::login));
    add("GET", "/assets/", open, bind(&WebConsole::asset), true);
    add("POST", "/logout", V, bind(&WebConsole::logout));
    add("GET", "/", V, bind(&WebConsole::dashboard));
    add("GET", "/api/status", V, bind(&WebConsole::apiStatus));
    add("GET", "/pages", V, bind(&WebConsole::pages));
    add("GET", "/pages/", V, bind(&WebConsole::pageDetail), true);
    add("POST", "/pending", O, bind(&WebConsole::pending));
    add("GET", "/send", O, bind(&WebConsole::sendPage));
    add("POST", "/send", O, bind(&WebConsole::sendPost));
    add("GET", "/reports", V, bind(&WebConsole::reports));
    add("GET", "/reports/download", V, bind(&WebConsole::reportDownload));
    add("GET", "/settings", A, bind(&WebConsole::settingsPage));
    add("POST", "/settings", A, bind(&WebConsole::settingsPost));
    add("GET", "/ports", A, bind(&WebConsole::portsPage));
    add("POST", "/ports", A, bind(&WebConsole::portsPost));
    add("GET", "/clients", A, bind(&WebConsole::clientsPage));
    add("POST", "/clients", A, bind(&WebConsole::clientsPost));
    add("GET", "/recipients", A, bind(&WebConsole::recipientsPage));
    add("POST", "/recipients", A, bind(&WebConsole::recipientsPost));
    add("GET", "/purge", A, bind(&WebConsole::purgePage));
    add("POST", "/purge", A, bind(&WebConsole::purgePost));
    add("GET", "/users", A, bind(&WebConsole::usersPage));
    add("POST", "/users", A, bind(&WebConsole::usersPost));
    add("GET", "/audit", A, bind(&WebConsole::auditPage));
}

QList<QPair<QByteArray, QByteArray>> WebConsole::securityHeaders() const {
    QList<QPair<QByteArray, QByteArray>> h = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "same-origin"},
        {"Cache-Control", "no-store"},
    };
    if (m_config.tls())
        h.append(
            qMakePair(QByteArray("Strict-Transport-Security"), QByteArray("max-age=31536000")));
    return h;
}

// A change must come from a page of the console itself: a browser names
// the page's origin in Origin (or Referer) on every POST; another site's
// form, script or frame cannot make it ours.
bool WebConsole::sameOrigin(const QHttpServerRequest& request) const {
    QByteArray origin = request.value("Origin");
    if (origin.isEmpty() || origin == "null") {
        const QUrl referer(QString::fromLatin1(request.value("Referer")));
        if (!referer.isValid() || referer.isEmpty()) return origin.isEmpty();
        origin = referer.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                     .toString(QUrl::FullyEncoded)
                     .toLatin1();
    }
    const QByteArray host = request.value("Host");
    const QByteArray scheme = m_config.tls() ? "https://" : "http://";
    return origin == scheme + host;
}

bool WebConsole::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    Request r;
    switch (request.method()) {
        case QHttpServerRequest::Method::Get:
            r.method = QStringLiteral("GET");
            break;
        case QHttpServerRequest::Method::Post:
            r.method = QStringLiteral("POST");
            break;
        default:
            send(socket, request, Reply::text(405, QStringLiteral("Method not allowed")));
            return true;
    }
    r.path = request.url().path();
    r.query = request.query();
    r.peer = request.remoteAddress().toString();
    if (r.method == QLatin1String("POST")) r.form = formOf(request.body());
    const QDateTime now = m_loop.now();
    if (const QString id = cookieOf(request); !id.isEmpty()) r.session = m_sessions.touch(id, now);

    if (r.path == QLatin1String("/events") && r.method == QLatin1String("GET")) {
        if (!r.session) {
            send(socket, request, Reply::text(401, QStringLiteral("Sign in first")));
        } else {
            openEvents(socket, request);
        }
        return true;
    }
    const Route* route = nullptr;
    for (const Route& candidate : m_routes) {
        if (candidate.method != r.method) continue;
        if (candidate.prefix ? r.path.startsWith(candidate.path) : r.path == candidate.path) {
            route = &candidate;
            break;
        }
    }
    if (!route) {
        send(socket, request, Reply::text(404, QStringLiteral("Not found")));
        return true;
    }
    if (route->role) {
        if (!r.session) {
            send(socket, request,
                 r.method == QLatin1String("GET")
                     ? Reply::redirect(QStringLiteral("/login"))
                     : Reply::text(401, QStringLiteral("Your session has ended; sign in again")));
            return true;
        }
        if (static_cast<int>(r.session->role) < static_cast<int>(*route->role)) {
            Reply refused =
                view(r, QStringLiteral("Not allowed"),
                     html::notice(QStringLiteral("This needs the role %1; you are "
                                                 "signed in as %2.")
                                      .arg(roleName(*route->role), roleName(r.session->role)),
                                  QStringLiteral("error")),
                     {});
            refused.status = 403;
            send(socket, request, refused);
            return true;
        }
    }
    if (r.method == QLatin1String("POST")) {
        const bool tokenOk =
            !route->role ||
            (r.session &&
             Sessions::sameSecret(r.form.queryItemValue(QStringLiteral("csrf")), r.session->csrf));
        if (!sameOrigin(request) || !tokenOk) {
            send(socket, request,
                 Reply::text(403, QStringLiteral("Refused: the request did not come from this "
                                                 "console's own page")));
            return true;
        }
    }
    try {
        send(socket, request, route->handler(r));
    } catch (const db::DbError& e) {
        send(socket, request,
             view(r, QStringLiteral("Store error"),
                  html::notice(e.message(), QStringLiteral("error")), {}));
    } catch (const std::exception& e) {
        send(socket, request,
             view(r, QStringLiteral("Error"),
                  html::notice(QString::fromLocal8Bit(e.what()), QStringLiteral("error")), {}));
    }
    return true;
}

void WebConsole::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    send(socket, request, Reply::text(404, QStringLiteral("Not found")));
}

void WebConsole::send(QTcpSocket* socket, const QHttpServerRequest& request, const Reply& reply) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    responder.writeHeader("Content-Type", reply.type);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    for (const auto& [name, value] : securityHeaders()) responder.writeHeader(name, value);
    for (const auto& [name, value] : reply.headers) responder.writeHeader(name, value);
    responder.writeBody(reply.body);
}

void WebConsole::openEvents(QTcpSocket* socket, const QHttpServerRequest& request) {
    m_streams.removeIf([](const QPointer<QTcpSocket>& s) { return s.isNull(); });
    if (m_streams.size() >= kMaxStreams) {
        send(socket, request, Reply::text(503, QStringLiteral("Too many open dashboards")));
        return;
    }
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n";
    for (const auto& [name, value] : securityHeaders()) head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\nretry: 1000\n\n";
    socket->write(head);
    Request none;
    socket->write("event: status\ndata: " + apiStatus(none).body + "\n\n");
    m_streams.append(socket);
}

void WebConsole::broadcast(const QByteArray& event) {
    m_streams.removeIf([](const QPointer<QTcpSocket>& s) {
        return s.isNull() || s->state() != QAbstractSocket::ConnectedState;
    });
    for (const auto& s : m_streams) {
        // A dashboard that stopped reading is dropped, never waited for.
        if (s->bytesToWrite() > qint64{1024} * 1024) {
            s->abort();
            continue;
        }
        s->write(event);
    }
}

Reply WebConsole::view(Request& r, const QString& title, const QString& body,
                       const QString& current) {
    QList<html::NavItem> nav = {{"/", "Dashboard"}, {"/pages", "Pages"}};
    const Role role = r.session ? r.session->role : Role::Viewer;
    if (role >= Role::Operator) nav.append(html::NavItem{"/send", "Send"});
    nav.append(html::NavItem{"/reports", "Reports"});
    if (role == Role::Administrator) {
        nav.append(QList<html::NavItem>{{"/settings", "Settings"},
                                        {"/ports", "Ports and modems"},
                                        {"/clients", "Clients"},
                                        {"/recipients", "Recipients"},
                                        {"/purge", "Purge"},
                                        {"/users", "Users"},
                                        {"/audit", "Audit"}});
    }
    Reply reply;
    reply.body = html::page(title, body, r.session ? r.session->user : QString(), roleName(role),
                            nav, r.session ? r.session->csrf : QString(), current)
                     .toUtf8();
    return reply;
}

void WebConsole::audit(Request& r, const QString& action, const QString& item,
                       const QString& oldValue, const QString& newValue) {
    m_users.audit(r.session ? r.session->user : QString(), action, item, oldValue, newValue,
                  m_loop.now());
}

// ---------------------------------------------------------------- sign-in

Reply WebConsole::loginPage(Request& r) {
    if (r.session) return Reply::redirect(QStringLiteral("/"));
    const QString body =
        QStringLiteral("<form method=\"post\" action=\"/login\" class=\"login\">") +
        html::field(QStringLiteral("user"), QStringLiteral("User name"), {}, QStringLiteral("text"),
                    QStringLiteral("autocomplete=\"username\" required autofocus")) +
        html::field(QStringLiteral("password"), QStringLiteral("Password"), {},
                    QStringLiteral("password"),
                    QStringLiteral("autocomplete=\"current-password\" required")) +
        QStringLiteral("<p><button type=\"submit\">Sign in</button></p></form>");
    return view(r, QStringLiteral("Sign in"), body, {});
}

Reply WebConsole::login(Request& r) {
    const QString name = r.value(QStringLiteral("user")).trimmed();
    const QByteArray password = r.value(QStringLiteral("password")).toUtf8();
    const QDateTime now = m_loop.now();
    const QString byAddress = QStringLiteral("address ") + r.peer;
    const QString byAccount = QStringLiteral("account ") + name.toLower();
    if (const int wait =
            std::max(m_limiter.blockedFor(byAddress, now), m_limiter.blockedFor(byAccount, now));
        wait > 0) {
        Reply reply = view(r, QStringLiteral("Sign in"),
                           html::notice(QStringLiteral("Too many failed sign-ins; try again in %1 "
                                                       "seconds.")
                                            .arg(wait),
                                        QStringLiteral("error")),
                           {});
        reply.status = 429;
        reply.header("Retry-After", QByteArray::number(wait));
        return reply;
    }
    const auto user = m_users.verify(name, password);
    if (!user) {
        m_limiter.failed(byAddress, now);
        m_limiter.failed(byAccount, now);
        r.session.reset();
        Reply reply = loginPage(r);
        reply.body.replace("<form", html::notice(QStringLiteral("Wrong user name or password."),
                                                 QStringLiteral("error"))
                                            .toUtf8() +
                                        "<form");
        reply.status = 401;
        return reply;
    }
    m_limiter.succeeded(byAccount);
    if (r.session) m_sessions.end(r.session->id);
    const Session s = m_sessions.start(*user, now);
    Reply reply = Reply::redirect(QStringLiteral("/"));
    reply.header("Set-Cookie",
                 (kCookie + u'=' + s.id + QStringLiteral("; Path=/; HttpOnly; SameSite=Strict") +
                  (m_config.tls() ? QStringLiteral("; Secure") : QString()))
                     .toLatin1());
    return reply;
}

Reply WebConsole::logout(Request& r) {
    m_sessions.end(r.session->id);
    Reply reply = Reply::redirect(QStringLiteral("/login"));
    reply.header("Set-Cookie",
                 (kCookie + QStringLiteral("=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict") +
                  (m_config.tls() ? QStringLiteral("; Secure") : QString()))
                     .toLatin1());
    return reply;
}

Reply WebConsole::asset(Request& r) {
    static const QHash<QString, QPair<QString, QByteArray>> assets = {
        {QStringLiteral("/assets/style.css"),
         {QStringLiteral(":/web/style.css"), "text/css; charset=utf-8"}},
        {QStringLiteral("/assets/app.js"),
         {QStringLiteral(":/web/app.js"), "text/javascript; charset=utf-8"}},
    };
    const auto it = assets.constFind(r.path);
    if (it == assets.constEnd()) return Reply::text(404, QStringLiteral("Not found"));
    QFile f(it->first);
    f.open(QIODevice::ReadOnly);
    Reply reply;
    reply.type = it->second;
    reply.body = f.readAll();
    return reply;
}

// ---------------------------------------------------------------- dashboard

Reply WebConsole::apiStatus(Request&) {
    QJsonObject o;
    const QJsonObject& s = m_control.status();
    o.insert("connected", m_control.connected());
    o.insert("ports", s.value("ports"));
    o.insert("queue", s.value("queue"));
    if (s.contains("journal")) o.insert("journal", s.value("journal"));
    QJsonArray lines;
    for (const QString& l : m_control.lines()) lines.append(l);
    o.insert("lines", lines);
    Reply reply;
    reply.type = "application/json";
    reply.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    return reply;
}

Reply WebConsole::dashboard(Request& r) {
    QString body = QStringLiteral(
        "<p id=\"conn\" role=\"status\"></p>"
        "<section aria-labelledby=\"h-ports\"><h2 id=\"h-ports\">Ports</h2>"
        "<div class=\"scroll\"><table><thead><tr><th scope=\"col\">Port</th>"
        "<th scope=\"col\">COM</th><th scope=\"col\">Kind</th><th scope=\"col\">Target</th>"
        "<th scope=\"col\">State</th><th scope=\"col\">Batch</th>"
        "<th scope=\"col\">Last result</th></tr></thead><tbody id=\"ports\"></tbody></table>"
        "</div></section>"
        "<section aria-labelledby=\"h-queue\"><h2 id=\"h-queue\">Queue</h2>"
        "<dl id=\"queue\" class=\"counts\"></dl></section>");
    try {
        if (logstore::present(m_dir)) {
            auto log = logstore::open(m_dir);
            const Hourly h = hourly(*log, m_loop.now());
            body += QStringLiteral(
                        "<section aria-labelledby=\"h-chart\"><h2 id=\"h-chart\">Pages "
                        "per hour</h2>") +
                    html::hourlyChart(h.hours, h.sent, h.failed) + QStringLiteral("</section>");
        }
    } catch (const db::DbError& e) {
        body += html::notice(e.message(), QStringLiteral("error"));
    }
    body += QStringLiteral(
        "<section aria-labelledby=\"h-lines\"><h2 id=\"h-lines\">Latest status lines</h2>"
        "<ol id=\"lines\" class=\"lines\" aria-live=\"polite\"></ol></section>");
    return view(r, QStringLiteral("Dashboard"), body, QStringLiteral("/"));
}

// ---------------------------------------------------------------- pages

Reply WebConsole::pages(Request& r) {
    PageFilter f;
    QString problem;
    for (const auto& [name, target] :
         {std::pair{QStringLiteral("from"), &f.from}, std::pair{QStringLiteral("to"), &f.to}}) {
        const QString v = r.value(name).trimmed();
        if (v.isEmpty()) continue;
        *target = ctl::dateOf(v);
        if (!*target) problem = QStringLiteral("Dates are YYYY-MM-DD or MM/DD/YYYY.");
    }
    f.status = r.value(QStringLiteral("status"));
    if (f.status.isEmpty()) f.status = QStringLiteral("all");
    if (!validStatus(f.status)) problem = QStringLiteral("Unknown status.");
    f.sender = r.value(QStringLiteral("sender"));
    f.department = r.value(QStringLiteral("department"));
    f.recipient = r.value(QStringLiteral("recipient"));
    f.phone = r.value(QStringLiteral("phone"));
    f.pin = r.value(QStringLiteral("pin"));
    f.text = r.value(QStringLiteral("text"));
    f.before = std::max<qint64>(0, r.value(QStringLiteral("before")).toLongLong());

    QString body = QStringLiteral("<form method=\"get\" action=\"/pages\" class=\"search\">");
    body += html::field(QStringLiteral("from"), QStringLiteral("From"), r.value("from"),
                        QStringLiteral("date"));
    body += html::field(QStringLiteral("to"), QStringLiteral("To"), r.value("to"),
                        QStringLiteral("date"));
    body += html::select(QStringLiteral("status"), QStringLiteral("Status"),
                         {{"all", "All"},
                          {"sent", "Sent"},
                          {"failed", "Failed"},
                          {"cancelled", "Cancelled"},
                          {"pending", "Pending"}},
                         f.status);
    for (const auto& [name, label] :
         {std::pair{"sender", "Sender"}, std::pair{"department", "Department"},
          std::pair{"recipient", "Recipient"}, std::pair{"phone", "Phone"}, std::pair{"pin", "PIN"},
          std::pair{"text", "Text"}}) {
        body += html::field(QString::fromLatin1(name), QString::fromLatin1(label),
                            r.value(QString::fromLatin1(name)));
    }
    body += QStringLiteral("<p><button type=\"submit\">Search</button></p></form>");
    if (!problem.isEmpty()) {
        return view(r, QStringLiteral("Pages"), body + html::notice(problem, "error"), "/pages");
    }
    if (!logstore::present(m_dir)) {
        return view(r, QStringLiteral("Pages"),
                    body + html::notice(QStringLiteral("No message log yet."), "ok"), "/pages");
    }
    auto log = logstore::open(m_dir);
    const PageResult result = search(*log, f);
    body += QStringLiteral(
        "<div class=\"scroll\"><table id=\"results\"><caption>Newest first</caption><thead><tr>"
        "<th scope=\"col\">ID</th><th scope=\"col\">Time</th><th scope=\"col\">Status</th>"
        "<th scope=\"col\">Sender</th><th scope=\"col\">Recipient</th>"
        "<th scope=\"col\">Phone</th><th scope=\"col\">PIN</th><th scope=\"col\">Text</th>"
        "<th scope=\"col\">Cause</th></tr></thead><tbody>");
    for (const PageRow& row : result.rows) {
        const QString word = ctl::statusWord(row.status);
        body += QStringLiteral("<tr class=\"%1\"><td><a href=\"/pages/%2\">%2</a></td>")
                    .arg(escape(word))
                    .arg(row.id);
        body += cell(row.sentTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))) + cell(word) +
                cell(row.sender) + cell(row.recipient) + cell(row.phone) + cell(row.pin) +
                cell(row.message.left(80)) + cell(row.cause);
        body += QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table></div>");
    if (result.rows.isEmpty()) body += html::notice(QStringLiteral("No pages match."), "ok");
    if (result.nextBefore > 0) {
        QUrlQuery next = r.query;
        next.removeAllQueryItems(QStringLiteral("before"));
        next.addQueryItem(QStringLiteral("before"), QString::number(result.nextBefore));
        body += QStringLiteral("<p><a rel=\"next\" href=\"/pages?%1\">Older pages</a></p>")
                    .arg(escape(next.toString(QUrl::FullyEncoded)));
    }
    return view(r, QStringLiteral("Pages"), body, QStringLiteral("/pages"));
}

Reply WebConsole::pageDetail(Request& r) {
    bool ok = false;
    const qint64 id = r.path.mid(7).toLongLong(&ok);
    if (!ok || id < 1 || !logstore::present(m_dir)) {
        return Reply::text(404, QStringLiteral("No such page"));
    }
    auto log = logstore::open(m_dir);
    const auto row = pageRow(*log, id);
    if (!row) return Reply::text(404, QStringLiteral("No such page"));
    QString body = QStringLiteral("<dl class=\"detail\">");
    auto item = [&body](const QString& label, const QString& value) {
        body += QStringLiteral("<dt>%1</dt><dd>%2</dd>").arg(escape(label), escape(value));
    };
    item(QStringLiteral("ID"), QString::number(row->id));
    item(QStringLiteral("Status"),
         ctl::statusWord(row->status) + QStringLiteral(" (") + row->statusText + u')');
    item(QStringLiteral("Time"), row->sentTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    item(QStringLiteral("Sender"), row->sender);
    item(QStringLiteral("Department"), row->department);
    item(QStringLiteral("Recipient"), row->recipient);
    item(QStringLiteral("Phone"), row->phone);
    item(QStringLiteral("PIN"), row->pin);
    item(QStringLiteral("Text"), row->message);
    item(QStringLiteral("Cause"),
         row->cause.isEmpty() ? QStringLiteral("(none kept)") : row->cause);
    // What the network said, for pages whose carrier sends receipts.
    if (const auto d = delivery::of(*log, id, delivery::noReceiptMinutes(m_dir))) {
        item(QStringLiteral("Delivery"),
             d->state + (d->reason.isEmpty() ? QString() : QStringLiteral(": ") + d->reason) +
                 QStringLiteral(", ") + d->at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    item(QStringLiteral("Queue file"), row->uniqueId);
    static const QStringList gatewayProtocols = {"SNPP", "SMTP", "HTTP"};
    if (gatewayProtocols.contains(row->department.toUpper())) {
        item(QStringLiteral("Gateway ID"), gate::PageSubmitter::pageId(row->uniqueId));
        if (const QString user = logstore::gatewayUserOf(*log, row->uniqueId); !user.isEmpty())
            item(QStringLiteral("Gateway user"), user);
    }
    if (const QString by = m_users.senderOfFile(row->uniqueId); !by.isEmpty()) {
        item(QStringLiteral("Sent from the console by"), by);
    }
    body += QStringLiteral("</dl>");
    const QStringList trace = ctl::traceOfCall(m_dir, QString::number(id));
    body += QStringLiteral("<h2>Dialer trace of the call</h2>");
    body += trace.isEmpty()
                ? QStringLiteral(
                      "<p>None kept (the server's DebugMode 1 makes the "
                      "dialer write KRX&lt;N&gt;.log).</p>")
                : QStringLiteral("<pre class=\"trace\">%1</pre>").arg(escape(trace.join(u'\n')));
    if (row->status == toInt(LogStatus::Waiting) && r.session->role >= Role::Operator &&
        !row->uniqueId.isEmpty()) {
        for (const auto& [action, label] :
             {std::pair{"retry", "Retry now"}, std::pair{"delete", "Delete the pending file"}}) {
            body += QStringLiteral(
                        "<form method=\"post\" action=\"/pending\" class=\"inline\">%1"
                        "<input type=\"hidden\" name=\"id\" value=\"%2\">"
                        "<input type=\"hidden\" name=\"name\" value=\"%3\">"
                        "<input type=\"hidden\" name=\"action\" value=\"%4\">"
                        "<button type=\"submit\">%5</button></form>")
                        .arg(html::csrfField(r.session->csrf))
                        .arg(row->id)
                        .arg(escape(row->uniqueId), QString::fromLatin1(action),
                             QString::fromLatin1(label));
        }
    }
    return view(r, QStringLiteral("Page %1").arg(id), body, QStringLiteral("/pages"));
}

Reply WebConsole::pending(Request& r) {
    static const QRegularExpression shape(QStringLiteral("^A[0-9]{1,40}\\.PMF$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString name = r.value(QStringLiteral("name"));
    const QString action = r.value(QStringLiteral("action"));
    if (!shape.match(name).hasMatch() ||
        (action != QLatin1String("retry") && action != QLatin1String("delete"))) {
        return Reply::text(400, QStringLiteral("A pending file is named A<digits>.PMF; the action "
                                               "is retry or delete"));
    }
    const QJsonObject answer =
        m_control.command({{"cmd", "pending"}, {"action", action}, {"name", name}});
    const bool done = answer.value("ok").toBool();
    if (done) audit(r, QStringLiteral("pending ") + action, name, {}, {});
    const QString text = done ? QStringLiteral("%1: %2 done.").arg(name, action)
                              : QStringLiteral("%1: %2 refused: %3")
                                    .arg(name, action, answer.value("error").toString());
    return view(r, QStringLiteral("Pending file"),
                html::notice(text, done ? "ok" : "error") +
                    QStringLiteral("<p><a href=\"/pages/%1\">Back to the page</a></p>")
                        .arg(r.value(QStringLiteral("id")).toLongLong()),
                QStringLiteral("/pages"));
}

// ---------------------------------------------------------------- send

Reply WebConsole::sendPage(Request& r) {
    QList<QPair<QString, QString>> names = {
        {QString(), QStringLiteral("(a number and PIN below)")}};
    QString error;
    gate::ConfigSource source(paths::settingsFile(QStringLiteral("vtsgate.ini"), m_dir));
    if (source.load(&error)) {
        const gate::GatewayConfig& c = source.current();
        QStringList keys = c.recipients.keys();
        keys.sort();
        for (const QString& k : keys)
            names.append({c.recipients.value(k).name, c.recipients.value(k).name});
        QStringList groups = c.groups.keys();
        groups.sort();
        for (const QString& g : groups) names.append({g, g + QStringLiteral(" (group)")});
    }
    QString body = QStringLiteral("<form method=\"post\" action=\"/send\">") +
                   html::csrfField(r.session->csrf);
    body += html::select(QStringLiteral("to"), QStringLiteral("Recipient or group"), names,
                         r.value(QStringLiteral("to")));
    body += html::field(
        QStringLiteral("phone"), QStringLiteral("Or paging-service number"),
        r.value(QStringLiteral("phone")), QStringLiteral("text"),
        QStringLiteral("inputmode=\"tel\" maxlength=\"%1\"").arg(QueueMessage::kMaxPhone));
    body += html::field(QStringLiteral("pin"), QStringLiteral("and PIN"),
                        r.value(QStringLiteral("pin")), QStringLiteral("text"),
                        QStringLiteral("maxlength=\"%1\"").arg(QueueMessage::kMaxPin));
    body += html::select(QStringLiteral("kind"), QStringLiteral("Kind"),
                         {{"alpha", "Alphanumeric"}, {"numeric", "Numeric"}},
                         r.value(QStringLiteral("kind")));
    body +=
        html::field(QStringLiteral("sender"), QStringLiteral("Sender"),
                    r.value(QStringLiteral("sender")).isEmpty() ? r.session->user
                                                                : r.value(QStringLiteral("sender")),
                    QStringLiteral("text"), QStringLiteral("maxlength=\"30\""));
    body += QStringLiteral(
                "<p class=\"field\"><label for=\"f-text\">Text</label> <textarea "
                "id=\"f-text\" name=\"text\" rows=\"4\" maxlength=\"2000\" "
                "required>%1</textarea></p>")
                .arg(escape(r.value(QStringLiteral("text"))));
    body += QStringLiteral("<p><button type=\"submit\">Send</button></p></form>");
    return view(r, QStringLiteral("Send a page"), body, QStringLiteral("/send"));
}

Reply WebConsole::sendPost(Request& r) {
    const QString to = r.value(QStringLiteral("to")).trimmed();
    const QString text = r.value(QStringLiteral("text"));
    const QString sender =
        gate::PageSubmitter::headerValue(r.value(QStringLiteral("sender")).trimmed(), 30);
    const bool numeric = r.value(QStringLiteral("kind")) == QLatin1String("numeric");
    auto again = [&](const QString& why) {
        Reply reply = sendPage(r);
        reply.body.replace("<form", html::notice(why, "error").toUtf8() + "<form");
        reply.status = 400;
        return reply;
    };
    static const QRegularExpression digits(QStringLiteral("^[0-9*# -]+$"));
    if (text.trimmed().isEmpty()) return again(QStringLiteral("The page has no text."));
    if (numeric && !digits.match(text.trimmed()).hasMatch()) {
        return again(QStringLiteral("A numeric page holds digits, *, #, - and blanks only."));
    }
    QStringList files;
    QString target;
    if (!to.isEmpty()) {
        QString error;
        gate::ConfigSource source(paths::settingsFile(QStringLiteral("vtsgate.ini"), m_dir));
        if (!source.load(&error)) return again(error);
        gate::GatewayLog quiet([](const QString&) {});
        gate::PageSubmitter submitter(m_dir, source, quiet, m_loop);
        gate::PageOrder order;
        order.protocol = QStringLiteral("WEB");
        order.peer = r.peer;
        order.sender = sender.isEmpty() ? r.session->user : sender;
        order.to = {to};
        order.user = r.session->user;
        order.text = text;
        const gate::SubmitResult result = submitter.submit(order);
        if (!result.ok()) return again(result.message);
        files = result.files;
        target = to;
    } else {
        const QString phone = r.value(QStringLiteral("phone")).trimmed();
        const QString pin = r.value(QStringLiteral("pin")).trimmed();
        if (phone.isEmpty() || pin.isEmpty()) {
            return again(QStringLiteral("Choose a recipient or give a number and a PIN."));
        }
        QueueMessage page;
        page.computer = gate::PageSubmitter::headerValue(QSysInfo::machineHostName().toUpper(), 30);
        page.sender = sender.isEmpty() ? r.session->user : sender;
        page.department = QStringLiteral("WEB");
        page.sentTime = m_loop.now();
        page.tapPhoneNumber = phone;
        page.tapPin = pin;
        page.serialSettings = QStringLiteral("1200,E,7,1");
        page.modemInit = QStringLiteral("ATZ");
        page.modemDial = QStringLiteral("ATDT");
        page.message = gate::PageSubmitter::pageText({}, text);
        if (const QString why = queuefile::validate(page); !why.isEmpty()) return again(why);
        const QString queue = paths::resolve(settings::load(m_dir)
                                                 .value(QStringLiteral("MessageQueueLocation"))
                                                 .toString()
                                                 .trimmed(),
                                             m_dir);
        QString error;
        const QString file = QueueFileWriter(queue).write(page, &error);
        if (file.isEmpty()) return again(error);
        files << file;
        target = phone + QStringLiteral(" PIN ") + pin;
    }
    audit(r, QStringLiteral("send"), target, {}, files.join(u' '));
    return view(r, QStringLiteral("Send a page"),
                html::notice(QStringLiteral("Queued %1 for %2. It shows in Pages once the server "
                                            "has logged it.")
                                 .arg(files.join(QStringLiteral(", ")), target),
                             "ok") +
                    QStringLiteral("<p><a href=\"/pages\">Pages</a> · <a href=\"/send\">Send "
                                   "another</a></p>"),
                QStringLiteral("/send"));
}

// ---------------------------------------------------------------- reports

namespace {
const QStringList kReportTypes = {QStringLiteral("normal"), QStringLiteral("fulltext"),
                                  QStringLiteral("summary")};
const QStringList kSorts = {QStringLiteral("date"), QStringLiteral("sender"),
                            QStringLiteral("recipient"), QStringLiteral("tap"),
                            QStringLiteral("department")};
const QStringList kReportStatuses = {QStringLiteral("all"), QStringLiteral("successful"),
                                     QStringLiteral("failed"), QStringLiteral("cancelled")};
}  // namespace

Reply WebConsole::reports(Request& r) {
    QString body = QStringLiteral("<form method=\"get\" action=\"/reports/download\">");
    QList<QPair<QString, QString>> types;
    const QStringList typeNames = report::reportTypes();
    for (int i = 0; i < kReportTypes.size(); ++i)
        types.append({kReportTypes[i], typeNames.value(i)});
    body += html::select(QStringLiteral("type"), QStringLiteral("Layout"), types, {});
    QList<QPair<QString, QString>> sorts;
    const QStringList sortNames = report::sortEntries();
    for (int i = 0; i < kSorts.size(); ++i) sorts.append({kSorts[i], sortNames.value(i)});
    body += html::select(QStringLiteral("sort"), QStringLiteral("Sort by"), sorts, {});
    QList<QPair<QString, QString>> statuses;
    const QStringList statusNames = report::statusEntries();
    for (int i = 0; i < kReportStatuses.size(); ++i) {
        statuses.append({kReportStatuses[i], statusNames.value(i)});
    }
    body += html::select(QStringLiteral("status"), QStringLiteral("Messages"), statuses, {});
    body += html::field(QStringLiteral("from"), QStringLiteral("From"), {}, QStringLiteral("date"));
    body += html::field(QStringLiteral("to"), QStringLiteral("To"), {}, QStringLiteral("date"));
    body += html::field(QStringLiteral("sender"), QStringLiteral("Senders beginning with"), {});
    body +=
        html::field(QStringLiteral("department"), QStringLiteral("Departments beginning with"), {});
    body += html::select(QStringLiteral("format"), QStringLiteral("File"),
                         {{"pdf", "PDF"}, {"csv", "CSV"}}, {});
    body += QStringLiteral("<p><button type=\"submit\">Download</button></p></form>");
    return view(r, QStringLiteral("Reports"), body, QStringLiteral("/reports"));
}

// The file is written by the report engine into a folder of its own and
// named by the console: nothing in the request names a path.
Reply WebConsole::reportDownload(Request& r) {
    const QString type = r.value(QStringLiteral("type"));
    const QString format = r.value(QStringLiteral("format"));
    report::ReportsPageState state;
    state.reportTypeIndex = static_cast<int>(kReportTypes.indexOf(type));
    state.sortIndex = static_cast<int>(kSorts.indexOf(r.value(QStringLiteral("sort"))));
    const int statusIndex =
        static_cast<int>(kReportStatuses.indexOf(r.value(QStringLiteral("status"))));
    if (state.reportTypeIndex < 0 || state.sortIndex < 0 || statusIndex < 0 ||
        (format != QLatin1String("pdf") && format != QLatin1String("csv"))) {
        return Reply::text(400, QStringLiteral("Unknown layout, sort, status or file kind"));
    }
    auto& c = state.criteria;
    c.statusIndex = statusIndex;
    c.statusText = report::statusEntries().at(statusIndex);
    const QString from = r.value(QStringLiteral("from")).trimmed();
    const QString to = r.value(QStringLiteral("to")).trimmed();
    if (!from.isEmpty() || !to.isEmpty()) {
        const auto f = ctl::dateOf(from.isEmpty() ? QStringLiteral("1900-01-01") : from);
        const auto t = ctl::dateOf(to.isEmpty() ? QStringLiteral("9999-12-31") : to);
        if (!f || !t) return Reply::text(400, QStringLiteral("Dates are YYYY-MM-DD or MM/DD/YYYY"));
        c.selectDate = true;
        c.from = *f;
        c.to = *t;
    }
    c.sender = r.value(QStringLiteral("sender"));
    c.department = r.value(QStringLiteral("department"));
    QTemporaryDir folder;
    if (!folder.isValid()) return Reply::text(500, QStringLiteral("No room for the report"));
    const QString file = folder.filePath(QStringLiteral("report.") + format);
    report::ReportEngine engine(m_dir);
    engine.setPrintFileName(file);
    CollectingDialogs dialogs;
    report::ReportsPageLogic logic(engine, dialogs);
    if (logic.printClick(1, state) != report::ReportsPageLogic::Outcome::Ran) {
        return view(
            r, QStringLiteral("Reports"),
            html::notice(QStringLiteral("The report did not run: %1")
                             .arg(dialogs.texts().isEmpty() ? logic.lastError() : dialogs.texts()),
                         "error"),
            QStringLiteral("/reports"));
    }
    QFile out(file);
    if (!out.open(QIODevice::ReadOnly))
        return Reply::text(500, QStringLiteral("No report written"));
    Reply reply;
    reply.type = format == QLatin1String("pdf") ? "application/pdf" : "text/csv; charset=utf-8";
    reply.body = out.readAll();
    reply.header("Content-Disposition", "attachment; filename=\"vantrel-" + type.toLatin1() + "." +
                                            format.toLatin1() + "\"");
    return reply;
}

// ---------------------------------------------------------------- settings

namespace {}  // namespace

Reply WebConsole::settingsPage(Request& r) {
    if (!configstore::present(m_dir)) {
        return view(r, QStringLiteral("Settings"),
                    html::notice(QStringLiteral("No VTSCFG.MDB"), "error"),
                    QStringLiteral("/settings"));
    }
    const settings::Values values = settings::load(m_dir);
    QString body = QStringLiteral("<form method=\"post\" action=\"/settings\">") +
                   html::csrfField(r.session->csrf);
    for (const settings::Field& f : settings::fields()) {
        if (ctl::secretSetting(f.name)) continue;
        const QString v = ctl::shownSetting(f, values.value(f.name));
        if (f.kind == settings::Kind::Flag) {
            body += html::select(f.name, f.name, {{"yes", "yes"}, {"no", "no"}}, v);
        } else {
            body += html::field(f.name, f.name, v);
        }
    }
    body += QStringLiteral(
        "<p><button type=\"submit\">Save</button></p></form>"
        "<p>Passwords are set with vtsctl password set.</p>");
    return view(r, QStringLiteral("Settings"), body, QStringLiteral("/settings"));
}

Reply WebConsole::settingsPost(Request& r) {
    settings::Values values = settings::load(m_dir);
    QStringList problems;
    QList<std::tuple<QString, QString, QString>> changes;
    for (const settings::Field& f : settings::fields()) {
        if (ctl::secretSetting(f.name) || !r.form.hasQueryItem(f.name)) continue;
        const QString typed = r.value(f.name);
        const QString before = ctl::shownSetting(f, values.value(f.name));
        if (typed == before) continue;
        QString problem;
        const QVariant v = ctl::settingValue(f, typed, &problem);
        if (!problem.isEmpty()) {
            problems << problem;
            continue;
        }
        values.insert(f.name, v);
        changes.append({f.name, before, typed});
    }
    QString notice;
    if (problems.isEmpty() && !changes.isEmpty()) {
        if (const QStringList refused = settings::save(m_dir, values); !refused.isEmpty()) {
            problems << QStringLiteral("%1 was not stored").arg(refused.join(QStringLiteral(", ")));
        } else {
            for (const auto& [name, before, after] : changes)
                audit(r, "setting", name, before, after);
            const QJsonObject answer = m_control.command({{"cmd", "reload"}});
            notice =
                answer.value("ok").toBool()
                    ? QStringLiteral("Saved; the server has read the settings again.")
                    : QStringLiteral("Saved; the server reads them at its next queue check (%1).")
                          .arg(answer.value("error").toString());
        }
    }
    Reply reply = settingsPage(r);
    const QString box =
        problems.isEmpty()
            ? html::notice(notice.isEmpty() ? QStringLiteral("Nothing changed.") : notice, "ok")
            : html::notice(problems.join(QStringLiteral("; ")), "error");
    reply.body.replace("<form", box.toUtf8() + "<form");
    if (!problems.isEmpty()) reply.status = 400;
    return reply;
}

// ---------------------------------------------------------------- ports and modems

Reply WebConsole::portsPage(Request& r) {
    const QString csrf = html::csrfField(r.session->csrf);
    QString body = QStringLiteral("<h2>Modems of the server</h2><ul>");
    const QStringList modemPorts =
        configstore::present(m_dir) ? modems::load(m_dir) : QStringList();
    for (const QString& p : modemPorts) {
        body += QStringLiteral(
                    "<li>%1 <form method=\"post\" action=\"/ports\" class=\"inline\">%2"
                    "<input type=\"hidden\" name=\"action\" value=\"modem-remove\">"
                    "<input type=\"hidden\" name=\"port\" value=\"%1\">"
                    "<button type=\"submit\">Remove %1</button></form></li>")
                    .arg(escape(p), csrf);
    }
    body += QStringLiteral("</ul>");
    if (const QString w = modems::serverWarning(modemPorts); !w.isEmpty())
        body += html::notice(w, "error");
    body += QStringLiteral("<form method=\"post\" action=\"/ports\">") + csrf +
            QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"modem-add\">") +
            html::field(QStringLiteral("port"), QStringLiteral("New modem port number"), {},
                        QStringLiteral("number"), QStringLiteral("min=\"1\" max=\"32\"")) +
            QStringLiteral("<p><button type=\"submit\">Add modem</button></p></form>");
    body += QStringLiteral(
        "<h2>Port kinds (calvex.ini)</h2><table><thead><tr><th scope=\"col\">Port"
        "</th><th scope=\"col\">Entry</th><th scope=\"col\">Meaning</th></tr>"
        "</thead><tbody>");
    const QString iniPath = paths::settingsFile(QStringLiteral("calvex.ini"), m_dir);
    const IniFile ini = IniFile::load(iniPath);
    for (int n = 1; n <= 99; ++n) {
        const auto v = ini.value(QStringLiteral("ports"), QStringLiteral("COM%1").arg(n));
        if (!v || v->isEmpty()) continue;
        QString why;
        const auto target = PortTarget::parse(*v, &why);
        body += QStringLiteral("<tr><td>COM%1</td>").arg(n) + cell(*v) +
                cell(target ? target->describe() : why) + QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table><form method=\"post\" action=\"/ports\">") + csrf +
            QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"port-set\">") +
            html::field(QStringLiteral("com"), QStringLiteral("Port (COM1 to COM99)"), {}) +
            html::field(QStringLiteral("entry"),
                        QStringLiteral("Entry (/dev/ttyUSB0, tcp:HOST:PORT, snpp:HOST:PORT, "
                                       "wctp:URL; empty removes it)"),
                        {}) +
            QStringLiteral("<p><button type=\"submit\">Set port</button></p></form>");
    body += QStringLiteral(
        "<h2>Routes (calvex.ini)</h2><p>The ports that may carry a number's pages, tried in "
        "order. Without routes every port serves every number; with them, a number without a "
        "route uses only the ports named in no route.</p><table><thead><tr><th scope=\"col\">"
        "Number</th><th scope=\"col\">Ports</th></tr></thead><tbody>");
    for (const auto& [number, ports] : ini.entries(QStringLiteral("routes")))
        body += QStringLiteral("<tr>") + cell(number) + cell(ports) + QStringLiteral("</tr>");
    body += QStringLiteral("</tbody></table>");
    for (const QString& bad : Routes::load(iniPath).problems())
        body += html::notice(QStringLiteral("Not a route: ") + bad, "error");
    body +=
        QStringLiteral("<form method=\"post\" action=\"/ports\">") + csrf +
        QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"route-set\">") +
        html::field(QStringLiteral("number"), QStringLiteral("Paging-service number"), {}) +
        html::field(QStringLiteral("route"),
                    QStringLiteral("Ports in order (COM3, COM1; empty removes the route)"), {}) +
        QStringLiteral("<p><button type=\"submit\">Set route</button></p></form>");
    return view(r, QStringLiteral("Ports and modems"), body, QStringLiteral("/ports"));
}

Reply WebConsole::portsPost(Request& r) {
    const QString action = r.value(QStringLiteral("action"));
    QString problem;
    QString done;
    if (action == QLatin1String("modem-add") || action == QLatin1String("modem-remove")) {
        QString port = r.value(QStringLiteral("port")).trimmed();
        if (port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) port = port.mid(3);
        if (action == QLatin1String("modem-remove")) {
            if (!modems::remove(m_dir, QStringLiteral("COM") + port)) {
                problem = QStringLiteral("COM%1 is not in the modem list").arg(port);
            }
        } else {
            switch (modems::add(m_dir, port)) {
                case modems::AddResult::Added:
                    break;
                case modems::AddResult::OutOfRange:
                    problem = modems::kRangeText;
                    break;
                case modems::AddResult::Duplicate:
                    problem = modems::kDuplicateText;
                    break;
            }
        }
        if (problem.isEmpty()) {
            audit(r, action, QStringLiteral("COM") + port, {}, {});
            done = QStringLiteral("Done; the server takes modem changes when it restarts.");
        }
    } else if (action == QLatin1String("port-set") || action == QLatin1String("route-set")) {
        const QString path = paths::settingsFile(QStringLiteral("calvex.ini"), m_dir);
        const bool port = action == QLatin1String("port-set");
        const QString key = r.value(port ? QStringLiteral("com") : QStringLiteral("number"));
        const QString value = r.value(port ? QStringLiteral("entry") : QStringLiteral("route"));
        QString before;
        if (port ? ctl::setPort(path, key, value, &before, &problem)
                 : ctl::setRoute(path, key, value, &before, &problem)) {
            const QString after =
                port || value.trimmed().isEmpty() ? value.trimmed() : Routes::entry(value, nullptr);
            audit(r, port ? QStringLiteral("port") : QStringLiteral("route"), key.trimmed(), before,
                  after);
            done = port ? QStringLiteral("%1 saved; the dialer reads it at its next call.")
                              .arg(key.trimmed().toUpper())
                        : QStringLiteral(
                              "The route of %1 saved; the server reads it at its "
                              "next dispatch.")
                              .arg(key.trimmed());
        }
    } else {
        return Reply::text(400, QStringLiteral("Unknown action"));
    }
    Reply reply = portsPage(r);
    reply.body.replace(
        "<h2>",
        (problem.isEmpty() ? html::notice(done, "ok") : html::notice(problem, "error")).toUtf8() +
            "<h2>");
    if (!problem.isEmpty()) reply.status = 400;
    return reply;
}

// ---------------------------------------------------------------- clients

Reply WebConsole::clientsPage(Request& r) {
    const QString csrf = html::csrfField(r.session->csrf);
    QString body = QStringLiteral(
        "<table><thead><tr><th scope=\"col\">Name</th><th scope=\"col\">"
        "Location</th><th scope=\"col\">Computer</th><th scope=\"col\">"
        "</th></tr></thead><tbody>");
    for (const clients::Entry& e : clients::load(m_dir)) {
        const auto c = clients::find(m_dir, e.id);
        body += QStringLiteral("<tr>") + cell(e.name) + cell(c ? c->path : QString()) +
                cell(c ? c->computerName : QString()) +
                QStringLiteral(
                    "<td><form method=\"post\" action=\"/clients\" class=\"inline\">%1"
                    "<input type=\"hidden\" name=\"action\" value=\"remove\">"
                    "<input type=\"hidden\" name=\"id\" value=\"%2\"><button "
                    "type=\"submit\">Remove %3</button></form></td></tr>")
                    .arg(csrf)
                    .arg(e.id)
                    .arg(escape(e.name));
    }
    body += QStringLiteral(
                "</tbody></table><h2>Add a client</h2><form method=\"post\" "
                "action=\"/clients\">") +
            csrf + QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"add\">") +
            html::field(QStringLiteral("name"), QStringLiteral("Name"), {}) +
            html::field(QStringLiteral("path"), QStringLiteral("Location"), {}) +
            html::field(QStringLiteral("computer"), QStringLiteral("Computer"), {}) +
            QStringLiteral("<p><button type=\"submit\">Add client</button></p></form>");
    return view(r, QStringLiteral("Clients"), body, QStringLiteral("/clients"));
}

Reply WebConsole::clientsPost(Request& r) {
    const QString action = r.value(QStringLiteral("action"));
    QString problem;
    QString done;
    if (action == QLatin1String("add")) {
        const clients::Client typed{r.value(QStringLiteral("name")),
                                    r.value(QStringLiteral("path")),
                                    r.value(QStringLiteral("computer"))};
        if (typed.name.trimmed().isEmpty()) {
            problem = QStringLiteral("A client needs a name.");
        } else if (clients::add(m_dir, typed) != clients::AddResult::Added) {
            problem = clients::kDuplicateText;
        } else {
            audit(r, QStringLiteral("add client"), typed.name, {}, typed.path);
            done = clients::locationAccessible(typed.path, m_dir) ? QStringLiteral("Added.")
                                                                  : clients::kPathText;
        }
    } else if (action == QLatin1String("remove")) {
        const qint64 id = r.value(QStringLiteral("id")).toLongLong();
        const auto was = clients::find(m_dir, id);
        if (!was || !clients::remove(m_dir, id)) {
            problem = QStringLiteral("No such client.");
        } else {
            audit(r, QStringLiteral("remove client"), was->name, was->path, {});
            done = QStringLiteral("Removed.");
        }
    } else {
        return Reply::text(400, QStringLiteral("Unknown action"));
    }
    Reply reply = clientsPage(r);
    reply.body.replace(
        "<table>",
        (problem.isEmpty() ? html::notice(done, "ok") : html::notice(problem, "error")).toUtf8() +
            "<table>");
    if (!problem.isEmpty()) reply.status = 400;
    return reply;
}

// ---------------------------------------------------------------- recipients

Reply WebConsole::recipientsPage(Request& r) {
    const QString path = paths::settingsFile(QStringLiteral("vtsgate.ini"), m_dir);
    gate::ConfigSource source(path);
    QString error;
    if (!source.load(&error)) {
        return view(r, QStringLiteral("Recipients"), html::notice(error, "error"),
                    QStringLiteral("/recipients"));
    }
    const gate::GatewayConfig& c = source.current();
    QString body = QStringLiteral(
                       "<p>From %1 (edit the file; the gateway reads it again at once).</p>"
                       "<h2>Recipients</h2><table><thead><tr><th scope=\"col\">Name</th>"
                       "<th scope=\"col\">Number</th><th scope=\"col\">PIN</th>"
                       "<th scope=\"col\">Characters</th></tr></thead><tbody>")
                       .arg(escape(path));
    QStringList keys = c.recipients.keys();
    keys.sort();
    for (const QString& k : keys) {
        const gate::Recipient& p = c.recipients.value(k);
        body += QStringLiteral("<tr>") + cell(p.name) + cell(p.phone) + cell(p.pin) +
                cell(QString::number(p.maxChars)) + QStringLiteral("</tr>");
    }
    body += QStringLiteral(
        "</tbody></table><h2>Groups</h2><table><thead><tr><th scope=\"col\">"
        "Group</th><th scope=\"col\">Members</th></tr></thead><tbody>");
    QStringList groups = c.groups.keys();
    groups.sort();
    for (const QString& g : groups) {
        body += QStringLiteral("<tr>") + cell(g) +
                cell(c.groups.value(g).join(QStringLiteral(", "))) + QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table>");
    for (const QString& w : c.warnings) body += html::notice(w, "error");
    const QString csrf = html::csrfField(r.session->csrf);
    body += QStringLiteral(
                "<h2>Add or change a recipient</h2><form method=\"post\" "
                "action=\"/recipients\">") +
            csrf + QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"recipient\">") +
            html::field(QStringLiteral("name"), QStringLiteral("Name"), {}) +
            html::field(QStringLiteral("number"), QStringLiteral("Paging-service number"), {}) +
            html::field(QStringLiteral("pin"), QStringLiteral("PIN"), {}) +
            html::field(QStringLiteral("max"), QStringLiteral("Most characters (0: the service's)"),
                        QStringLiteral("0"), QStringLiteral("number")) +
            QStringLiteral("<p><button type=\"submit\">Save recipient</button></p></form>");
    body += QStringLiteral(
                "<h2>Add or change a group</h2><form method=\"post\" "
                "action=\"/recipients\">") +
            csrf + QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"group\">") +
            html::field(QStringLiteral("group"), QStringLiteral("Group"), {}) +
            html::field(QStringLiteral("members"),
                        QStringLiteral("Members (names, commas between)"), {}) +
            QStringLiteral("<p><button type=\"submit\">Save group</button></p></form>");
    body += QStringLiteral("<h2>Remove</h2><form method=\"post\" action=\"/recipients\">") + csrf +
            QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"remove\">") +
            html::field(QStringLiteral("remove"), QStringLiteral("Recipient or group"), {}) +
            QStringLiteral("<p><button type=\"submit\">Remove</button></p></form>");
    return view(r, QStringLiteral("Recipients"), body, QStringLiteral("/recipients"));
}

// Edits [recipients] and [groups] of vtsgate.ini: the sections are written
// again from what the gateway's own parser read, and the new text must
// parse without a warning before it replaces the file, so the gateway
// never reads a line it would skip. A file that already has skipped lines
// is left for the administrator to mend by hand.
Reply WebConsole::recipientsPost(Request& r) {
    const QString path = paths::settingsFile(QStringLiteral("vtsgate.ini"), m_dir);
    auto result = [&](const QString& problem, const QString& done) {
        Reply reply = recipientsPage(r);
        reply.body.replace(
            "<h2>", (problem.isEmpty() ? html::notice(done, "ok") : html::notice(problem, "error"))
                            .toUtf8() +
                        "<h2>");
        if (!problem.isEmpty()) reply.status = 400;
        return reply;
    };
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || in.size() > qint64{1024} * 1024) {
        return result(QStringLiteral("cannot read %1").arg(path), {});
    }
    const QString text = QString::fromUtf8(in.readAll());
    QString error;
    const auto before = gate::GatewayConfig::parse(text, &error);
    if (!before) return result(error, {});
    if (!before->warnings.isEmpty()) {
        return result(QStringLiteral("%1 has lines the gateway skips; mend them first").arg(path),
                      {});
    }
    QList<QPair<QString, QString>> recipients;
    for (const gate::Recipient& p : before->recipients) {
        recipients.append(
            {p.name, p.phone + QStringLiteral(", ") + p.pin +
                         (p.maxChars ? QStringLiteral(", %1").arg(p.maxChars) : QString())});
    }
    QList<QPair<QString, QString>> groups;
    for (auto it = before->groups.constBegin(); it != before->groups.constEnd(); ++it) {
        groups.append({it.key(), it.value().join(QStringLiteral(", "))});
    }
    auto drop = [](QList<QPair<QString, QString>>& list, const QString& name) {
        return list.removeIf([&](const QPair<QString, QString>& e) {
            return e.first.compare(name, Qt::CaseInsensitive) == 0;
        }) > 0;
    };
    const QString action = r.value(QStringLiteral("action"));
    QString item;
    QString newValue;
    if (action == QLatin1String("recipient")) {
        item = r.value(QStringLiteral("name")).trimmed();
        const QString max = r.value(QStringLiteral("max")).trimmed();
        newValue =
            r.value(QStringLiteral("number")).trimmed() + QStringLiteral(", ") +
            r.value(QStringLiteral("pin")).trimmed() +
            (max.isEmpty() || max == QLatin1String("0") ? QString() : QStringLiteral(", ") + max);
        drop(recipients, item);
        recipients.append({item, newValue});
    } else if (action == QLatin1String("group")) {
        item = r.value(QStringLiteral("group")).trimmed();
        newValue = r.value(QStringLiteral("members")).trimmed();
        drop(groups, item);
        groups.append({item, newValue});
    } else if (action == QLatin1String("remove")) {
        item = r.value(QStringLiteral("remove")).trimmed();
        if (!drop(recipients, item) && !drop(groups, item)) {
            return result(QStringLiteral("No recipient or group %1.").arg(item), {});
        }
    } else {
        return Reply::text(400, QStringLiteral("Unknown action"));
    }
    if (item.contains(u'\n') || newValue.contains(u'\n') || item.contains(u'=') ||
        item.contains(u'[')) {
        return result(QStringLiteral("A name or value cannot hold a line break, '=' or '['."), {});
    }
    // Written in name order, so the file reads the same after every edit.
    for (auto* list : {&recipients, &groups}) {
        std::sort(list->begin(), list->end(), [](const auto& a, const auto& b) {
            return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
        });
    }
    IniFile file = IniFile::parse(text);
    file.setSection(QStringLiteral("recipients"), recipients);
    file.setSection(QStringLiteral("groups"), groups);
    const QString changed = file.toText();
    const auto after = gate::GatewayConfig::parse(changed, &error);
    if (!after) return result(error, {});
    if (!after->warnings.isEmpty()) return result(after->warnings.join(QStringLiteral("; ")), {});
    if (action != QLatin1String("remove") && !after->known(item)) {
        return result(QStringLiteral("%1 was not taken.").arg(item), {});
    }
    if (!file.save(path)) return result(QStringLiteral("cannot write %1").arg(path), {});
    audit(r, QStringLiteral("gateway ") + action, item, {}, newValue);
    return result({}, QStringLiteral("Saved; the gateway reads the file again at once."));
}

// ---------------------------------------------------------------- purge

Reply WebConsole::purgePage(Request& r) {
    QString body = QStringLiteral("<form method=\"post\" action=\"/purge\">") +
                   html::csrfField(r.session->csrf) +
                   QStringLiteral("<input type=\"hidden\" name=\"step\" value=\"count\">") +
                   html::field(QStringLiteral("from"), QStringLiteral("From"), r.value("from"),
                               QStringLiteral("date")) +
                   html::field(QStringLiteral("to"), QStringLiteral("To"), r.value("to"),
                               QStringLiteral("date")) +
                   html::field(QStringLiteral("sender"), QStringLiteral("Senders beginning with"),
                               r.value("sender")) +
                   QStringLiteral("<p><button type=\"submit\">Count the rows</button></p></form>");
    return view(r, QStringLiteral("Purge"), body, QStringLiteral("/purge"));
}

Reply WebConsole::purgePost(Request& r) {
    report::PurgeCriteria c;
    const QString from = r.value(QStringLiteral("from")).trimmed();
    const QString to = r.value(QStringLiteral("to")).trimmed();
    auto refuse = [&](const QString& why) {
        Reply reply = purgePage(r);
        reply.body.replace("<form", html::notice(why, "error").toUtf8() + "<form");
        reply.status = 400;
        return reply;
    };
    if (!from.isEmpty() || !to.isEmpty()) {
        const auto f = ctl::dateOf(from.isEmpty() ? QStringLiteral("1900-01-01") : from);
        const auto t = ctl::dateOf(to.isEmpty() ? QStringLiteral("9999-12-31") : to);
        if (!f || !t) return refuse(QStringLiteral("Dates are YYYY-MM-DD or MM/DD/YYYY."));
        c.selectDate = true;
        c.from = *f;
        c.to = *t;
    }
    c.sender = r.value(QStringLiteral("sender"));
    if (!logstore::present(m_dir)) return refuse(QStringLiteral("No message log."));
    const QString criteria = QStringLiteral("from %1 to %2, sender %3")
                                 .arg(from.isEmpty() ? QStringLiteral("the start") : from,
                                      to.isEmpty() ? QStringLiteral("the end") : to,
                                      c.sender.isEmpty() ? QStringLiteral("any") : c.sender);
    if (r.value(QStringLiteral("step")) != QLatin1String("confirm")) {
        // The purge's own statement, run and taken back: the count is exact.
        const int rows = report::PurgeLogic::countMatching(m_dir, c);
        QString body = html::notice(
            QStringLiteral("%1 rows will be deleted (%2).").arg(rows).arg(criteria), "ok");
        body += QStringLiteral("<form method=\"post\" action=\"/purge\">") +
                html::csrfField(r.session->csrf);
        for (const char* name : {"from", "to", "sender"}) {
            body += QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">")
                        .arg(QString::fromLatin1(name), escape(r.value(QString::fromLatin1(name))));
        }
        body += QStringLiteral(
                    "<input type=\"hidden\" name=\"step\" value=\"confirm\">"
                    "<p><button type=\"submit\" class=\"danger\">Delete %1 rows</button> "
                    "<a href=\"/purge\">Cancel</a></p></form>")
                    .arg(rows);
        return view(r, QStringLiteral("Purge"), body, QStringLiteral("/purge"));
    }
    ConsoleDialogs answers(Dialogs::Answer::Yes);
    report::PurgeLogic logic(m_dir, answers);
    if (logic.purge(c) != report::PurgeLogic::Outcome::Purged) {
        return refuse(QStringLiteral("The purge did not run."));
    }
    audit(r, QStringLiteral("purge"), criteria, {},
          QStringLiteral("%1 rows deleted").arg(logic.lastDeleted()));
    return view(r, QStringLiteral("Purge"),
                html::notice(QStringLiteral("%1 rows deleted.").arg(logic.lastDeleted()), "ok"),
                QStringLiteral("/purge"));
}

// ---------------------------------------------------------------- users and audit

Reply WebConsole::usersPage(Request& r) {
    const QString csrf = html::csrfField(r.session->csrf);
    QString body = QStringLiteral(
        "<table><thead><tr><th scope=\"col\">User</th><th scope=\"col\">"
        "Role</th><th scope=\"col\"></th></tr></thead><tbody>");
    for (const WebUser& u : m_users.users()) {
        body += QStringLiteral("<tr>") + cell(u.name) +
                QStringLiteral(
                    "<td><form method=\"post\" action=\"/users\" class=\"inline\">%1"
                    "<input type=\"hidden\" name=\"action\" value=\"role\">"
                    "<input type=\"hidden\" name=\"name\" value=\"%2\">")
                    .arg(csrf, escape(u.name)) +
                html::select(QStringLiteral("role-") + u.name, QStringLiteral("Role of ") + u.name,
                             roleOptions(), roleName(u.role))
                    .replace(QStringLiteral("name=\"role-") + escape(u.name) + u'"',
                             QStringLiteral("name=\"role\"")) +
                QStringLiteral(
                    "<button type=\"submit\">Change</button></form></td>"
                    "<td><form method=\"post\" action=\"/users\" class=\"inline\">%1"
                    "<input type=\"hidden\" name=\"action\" value=\"remove\">"
                    "<input type=\"hidden\" name=\"name\" value=\"%2\"><button "
                    "type=\"submit\">Remove %2</button></form></td></tr>")
                    .arg(csrf, escape(u.name));
    }
    body +=
        QStringLiteral(
            "</tbody></table><h2>Add a user</h2><form method=\"post\" action=\"/users\">") +
        csrf + QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"add\">") +
        html::field(QStringLiteral("name"), QStringLiteral("User name"), {}) +
        html::select(QStringLiteral("role"), QStringLiteral("Role"), roleOptions(),
                     QStringLiteral("viewer")) +
        html::field(QStringLiteral("password"), QStringLiteral("Password"), {},
                    QStringLiteral("password"), QStringLiteral("autocomplete=\"new-password\"")) +
        QStringLiteral("<p><button type=\"submit\">Add user</button></p></form>");
    return view(r, QStringLiteral("Users"), body, QStringLiteral("/users"));
}

Reply WebConsole::usersPost(Request& r) {
    const QString action = r.value(QStringLiteral("action"));
    const QString name = r.value(QStringLiteral("name")).trimmed();
    const auto role = roleFromName(r.value(QStringLiteral("role")));
    const auto was = m_users.find(name);
    QString problem;
    if (action == QLatin1String("add")) {
        if (!role) {
            problem = QStringLiteral("Unknown role.");
        } else if (was) {
            problem = QStringLiteral("That user already exists.");
        } else {
            problem = m_users.setUser(name, *role, r.value(QStringLiteral("password")).toUtf8());
            if (problem.isEmpty()) audit(r, QStringLiteral("add user"), name, {}, roleName(*role));
        }
    } else if (action == QLatin1String("role") || action == QLatin1String("remove")) {
        if (!was) {
            problem = QStringLiteral("No such user.");
        } else if (name.compare(r.session->user, Qt::CaseInsensitive) == 0) {
            problem = QStringLiteral("You cannot change or remove your own account here.");
        } else if (action == QLatin1String("remove")) {
            m_users.remove(name);
            m_sessions.endAllOf(name);
            audit(r, QStringLiteral("remove user"), name, roleName(was->role), {});
        } else if (!role) {
            problem = QStringLiteral("Unknown role.");
        } else {
            m_users.setRole(name, *role);
            m_sessions.endAllOf(name);
            audit(r, QStringLiteral("role"), name, roleName(was->role), roleName(*role));
        }
    } else {
        return Reply::text(400, QStringLiteral("Unknown action"));
    }
    Reply reply = usersPage(r);
    reply.body.replace("<table>", (problem.isEmpty() ? html::notice(QStringLiteral("Done."), "ok")
                                                     : html::notice(problem, "error"))
                                          .toUtf8() +
                                      "<table>");
    if (!problem.isEmpty()) reply.status = 400;
    return reply;
}

Reply WebConsole::auditPage(Request& r) {
    const qint64 before = std::max<qint64>(0, r.value(QStringLiteral("before")).toLongLong());
    const QList<AuditEntry> entries = m_users.auditTrail(101, before);
    QString body = QStringLiteral(
        "<div class=\"scroll\"><table id=\"audit\"><caption>Newest first"
        "</caption><thead><tr><th scope=\"col\">When</th><th scope=\"col\">"
        "Who</th><th scope=\"col\">What</th><th scope=\"col\">Item</th>"
        "<th scope=\"col\">Old value</th><th scope=\"col\">New value</th>"
        "</tr></thead><tbody>");
    for (qsizetype i = 0; i < std::min<qsizetype>(100, entries.size()); ++i) {
        const AuditEntry& e = entries.at(i);
        body += QStringLiteral("<tr>") +
                cell(e.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))) + cell(e.user) +
                cell(e.action) + cell(e.item) + cell(e.oldValue) + cell(e.newValue) +
                QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table></div>");
    if (entries.size() > 100) {
        body += QStringLiteral("<p><a rel=\"next\" href=\"/audit?before=%1\">Older entries</a></p>")
                    .arg(entries.at(99).id);
    }
    return view(r, QStringLiteral("Audit"), body, QStringLiteral("/audit"));
}

}  // namespace vts::web
