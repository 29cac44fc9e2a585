// Page IDs, what GET /api/pages/ID answers as a page travels (queue
// folder, pending, the log row and its cause), and Idempotency-Key.
#include "DeliveryStore.h"
#include "GatewayFixture.h"
#include "HttpSession.h"
#include "LogStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vts;
using namespace vts::gate;
using namespace vts::gate::test;

namespace {

class PageStatusTest : public GatewayFixture {
protected:
    QByteArray http(const QByteArray& head, const QByteArray& body = {}) {
        SessionDriver<HttpSession> s(*m_desk);
        return s(head + "Host: x\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\n\r\n" + body);
    }
    QByteArray page(const QByteArray& extraHeaders = {}) {
        return http(
            "POST /api/pages HTTP/1.1\r\nAuthorization: Bearer s3cret-token\r\n" + extraHeaders,
            R"({"to":"bob","text":"status?"})");
    }
    static QJsonObject body(const QByteArray& answer) {
        return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
    }
    QJsonObject state(const QString& id) {
        return body(http("GET /api/pages/" + id.toLatin1() +
                         " HTTP/1.1\r\nAuthorization: Bearer s3cret-token\r\n"));
    }
};

TEST_F(PageStatusTest, AnsweredAsThePageTravels) {
    const QByteArray answer = page();
    ASSERT_TRUE(answer.startsWith("HTTP/1.1 201")) << answer.toStdString();
    const QString id = body(answer).value(QStringLiteral("ids")).toArray().first().toString();
    ASSERT_EQ(queued(), QStringList{id + QStringLiteral(".PMF")});
    EXPECT_TRUE(answer.contains("Location: /api/pages/" + id.toLatin1() + "\r\n"));
    EXPECT_EQ(state(id).value(QStringLiteral("state")).toString(), QStringLiteral("queued"));

    ASSERT_TRUE(
        QFile::rename(path(QStringLiteral("QUEUE/")) + id + QStringLiteral(".PMF"),
                      path(QStringLiteral("QUEUE/PENDING/")) + id + QStringLiteral(".PMF")));
    EXPECT_EQ(state(id).value(QStringLiteral("state")).toString(), QStringLiteral("pending"));

    // The server logged it and it failed; the cause sits beside the row.
    logstore::create(dir());
    {
        auto db = logstore::open(dir());
        db->execute(QStringLiteral("INSERT INTO tblLog (UniqueID, Status) VALUES (?, 2)"),
                    {id + QStringLiteral(".PMF")});
        db->execute(
            QStringLiteral("CREATE TABLE tblCause (ID INTEGER PRIMARY KEY, Cause TEXT NOT "
                           "NULL)"));
        db->execute(QStringLiteral("INSERT INTO tblCause (ID, Cause) SELECT ID, ? FROM tblLog"),
                    {QStringLiteral("no answer from the paging terminal")});
    }
    const QJsonObject failed = state(id);
    EXPECT_EQ(failed.value(QStringLiteral("state")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(failed.value(QStringLiteral("log_id")).toInteger(), 1);
    EXPECT_EQ(failed.value(QStringLiteral("cause")).toString(),
              QStringLiteral("no answer from the paging terminal"));

    // Sent by a carrier that sends receipts: what the network said, once it did.
    {
        auto db = logstore::open(dir());
        db->execute(QStringLiteral("UPDATE tblLog SET Status = 1"));
        delivery::noteSubmitted(*db, 1, {QStringLiteral("m7")}, QDateTime::currentDateTime());
    }
    EXPECT_EQ(state(id).value(QStringLiteral("delivery")).toString(),
              QStringLiteral("awaiting receipt"));
    {
        auto db = logstore::open(dir());
        delivery::noteReceipt(*db, QStringLiteral("m7"), false, QStringLiteral("EXPIRED err 027"),
                              QDateTime::currentDateTime());
    }
    const QJsonObject sent = state(id);
    EXPECT_EQ(sent.value(QStringLiteral("state")).toString(), QStringLiteral("sent"));
    EXPECT_EQ(sent.value(QStringLiteral("delivery")).toString(), QStringLiteral("not delivered"));
    EXPECT_EQ(sent.value(QStringLiteral("delivery_reason")).toString(),
              QStringLiteral("EXPIRED err 027"));
}

TEST_F(PageStatusTest, UnknownIdsAndCallersWithoutTheToken) {
    EXPECT_TRUE(http("GET /api/pages/A123 HTTP/1.1\r\nAuthorization: Bearer s3cret-token\r\n")
                    .startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(
        http("GET /api/pages/..%2FVTSCFG.MDB HTTP/1.1\r\nAuthorization: Bearer s3cret-token\r\n")
            .startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(http("GET /api/pages/A123 HTTP/1.1\r\n").startsWith("HTTP/1.1 401"));
}

TEST_F(PageStatusTest, ARepeatedIdempotencyKeyGetsTheFirstAnswerAndNoPage) {
    const QByteArray first = page("Idempotency-Key: run-42\r\n");
    const QByteArray again = page("Idempotency-Key: run-42\r\n");
    ASSERT_TRUE(first.startsWith("HTTP/1.1 201"));
    EXPECT_TRUE(again.startsWith("HTTP/1.1 201"));
    EXPECT_EQ(body(again), body(first));
    EXPECT_TRUE(again.contains("Idempotent-Replayed: true"));
    EXPECT_EQ(queued().size(), 1);
    EXPECT_TRUE(page("Idempotency-Key: run-43\r\n").startsWith("HTTP/1.1 201"));
    EXPECT_EQ(queued().size(), 2);
    m_loop.advance(24 * 3600 + 1);  // a day later the key is new again
    EXPECT_TRUE(page("Idempotency-Key: run-42\r\n").startsWith("HTTP/1.1 201"));
    EXPECT_EQ(queued().size(), 3);
    EXPECT_TRUE(logged(QStringLiteral("repeated Idempotency-Key")));
}

}  // namespace
