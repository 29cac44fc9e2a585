#pragma once

#include "GatewayConfig.h"
#include "Session.h"

#include <QHash>

namespace vts::gate {

// The HTTP API: POST /api/pages with a JSON body {"to": "NAME" or [names],
// "text": "...", "from": "..."} and "Authorization: Bearer TOKEN" answers
// 201 with the queue file names; GET /api/health answers 200 while the queue
// folder can be written (503 otherwise). One request per connection.
class HttpSession final : public Session {
public:
    using Session::Session;
    QString protocol() const override { return QStringLiteral("HTTP"); }
    void start() override {}
    void receive(const QByteArray& bytes) override;
    void timedOut() override;
    void refuse(Refusal kind, const QString& why) override;

private:
    bool readHeader(const Limits& limits);
    bool readChunks(const Limits& limits);
    void handle();
    QByteArray bearer() const;
    // Whether the bearer token is the shared one or a user's (*user then
    // names the user); checked once per request.
    bool tokenValid(QString* user);
    void respond(int status, const QByteArray& json, const QList<QByteArray>& extraHeaders = {});
    void fail(int status, const QString& message, const QList<QByteArray>& extraHeaders = {});
    void pages();
    void health();
    void pageStatus(const QString& id);

    QByteArray m_buffer;
    bool m_headerDone = false;
    QByteArray m_method;
    QByteArray m_target;
    QHash<QByteArray, QByteArray> m_headers;
    qint64 m_length = 0;
    QByteArray m_body;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;  // bytes of the current chunk still to come, CR LF included
    bool m_inTrailer = false;
    bool m_authChecked = false;
    bool m_authOk = false;
    bool m_authLimited = false;  // over the rate: the token was not even checked
    QString m_user;
    QString m_idempotencyKey;  // account and key of a keyed POST
};

}  // namespace vts::gate
