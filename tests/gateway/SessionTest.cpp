// The three protocols driven byte by byte without sockets: replies, queue
// files and refusals.
#include "GatewayFixture.h"
#include "HttpSession.h"
#include "SmtpSession.h"
#include "SnppSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vts;
using namespace vts::gate;
using namespace vts::gate::test;

namespace {

// One exchange: what the client sends, how the reply must begin.
struct Step {
    const char* send;
    const char* expect;
};
struct Script {
    const char* name;
    std::vector<Step> steps;
    int files;  // queue files written at the end
};

class SnppScriptTest : public GatewayFixture, public ::testing::WithParamInterface<Script> {};

TEST_P(SnppScriptTest, RepliesAndFiles) {
    SessionDriver<SnppSession> snpp(*m_desk);
    EXPECT_TRUE(snpp.start().startsWith("220 "));
    for (const Step& s : GetParam().steps) {
        const QByteArray reply = snpp(QByteArray(s.send) + "\r\n");
        EXPECT_TRUE(reply.startsWith(s.expect)) << s.send << " -> " << reply.toStdString();
    }
    EXPECT_EQ(queued().size(), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Snpp, SnppScriptTest,
    ::testing::Values(
        Script{"OnePage",
               {{"PAGE bob", "250"}, {"MESS Disk full", "250"}, {"SEND", "250"}, {"QUIT", "221"}},
               1},
        Script{"TwoPagersOneSend",
               {{"PAGE BOB", "250"}, {"PAGE oncall", "250"}, {"MESS x", "250"}, {"SEND", "250"}},
               2},
        Script{"UnknownPagerRefusedAtPage",
               {{"PAGE ZED", "550"}, {"MESS x", "250"}, {"SEND", "503"}},
               0},
        Script{"SendWithoutMessage", {{"PAGE BOB", "250"}, {"SEND", "503"}}, 0},
        Script{"SecondMessageRefused", {{"MESS a", "250"}, {"MESS b", "503"}, {"DATA", "503"}}, 0},
        Script{"ResetForgetsPagers",
               {{"PAGE BOB", "250"}, {"RESE", "250"}, {"MESS x", "250"}, {"SEND", "503"}},
               0},
        Script{"SendStartsAfresh",
               {{"PAGE BOB", "250"}, {"MESS x", "250"}, {"SEND", "250"}, {"SEND", "503"}},
               1},
        Script{"DataAndSubject",
               {{"LOGI alice", "250"},
                {"SUBJ Alarm", "250"},
                {"PAGE BOB", "250"},
                {"DATA", "354"},
                {"line one\r\n..dot\r\n.", "250"},
                {"SEND", "250"}},
               1},
        Script{"HelpAndUnknownCommands",
               {{"HELP", "214"},
                {"ALER 1", "500"},
                {"XYZZY", "500"},
                {"LEVE 1", "250"},
                {"LEVE 99", "550"}},
               0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayFixture, SnppPageWritesLines8And9AndTheText) {
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    snpp("LOGI alice\r\nSUBJ Alarm\r\nPAGE oncall\r\nMESS Disk  full\ton\r\nSEND\r\n");
    ASSERT_EQ(queued().size(), 1);
    const QStringList l = fileLines(queued().first());
    ASSERT_EQ(l.size(), 23);
    EXPECT_EQ(l[0], QStringLiteral("TAP"));
    EXPECT_EQ(l[1], QStringLiteral("GATE-PC"));
    EXPECT_EQ(l[3], QStringLiteral("alice"));
    EXPECT_EQ(l[4], QStringLiteral("SNPP"));
    EXPECT_EQ(l[5], QStringLiteral("OnCall"));
    EXPECT_EQ(l[7], QStringLiteral("5559876"));
    EXPECT_EQ(l[8], QStringLiteral("1002"));
    EXPECT_EQ(l[10], QStringLiteral("80"));
    EXPECT_EQ(l[22], QStringLiteral("Alarm: Disk full on"));
    EXPECT_TRUE(logged(QStringLiteral("SNPP 127.0.0.1 queued A")));
}

TEST_F(GatewayFixture, EveryRefusalHasOneLogLine) {
    SessionDriver<SnppSession> snpp(*m_desk);
    SessionDriver<SmtpSession> smtp(*m_desk);
    snpp.start();
    smtp.start();
    snpp("SEND\r\nPAGE zed\r\nPAGE BOB\r\nMESS ok\r\nSEND\r\n");
    smtp("DATA\r\nBDAT 1\r\n");
    const QStringList expected{
        QStringLiteral("SNPP 127.0.0.1 refused: 503 Error, Pager ID or Message Incomplete"),
        QStringLiteral("SNPP 127.0.0.1 refused: unknown recipient zed"),
        QStringLiteral("SNPP 127.0.0.1 queued A"),
        QStringLiteral("SMTP 127.0.0.1 refused: 503 5.5.1 Need MAIL and RCPT before DATA"),
        QStringLiteral("SMTP 127.0.0.1 refused: 502 5.5.1 Command not implemented")};
    ASSERT_EQ(m_logLines.size(), expected.size())
        << m_logLines.join(QLatin1Char('\n')).toStdString();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(m_logLines[i].contains(expected[i])) << m_logLines[i].toStdString();
    }
}

TEST_F(GatewayFixture, SnppLimitsComeFromTheIni) {
    writeIni(kIni + "[limits]\nmax_text = 10\nmax_line = 100\n");
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    EXPECT_TRUE(snpp("MESS " + QByteArray(11, 'x') + "\r\n")
                    .startsWith("550 Error, message longer than 10"));
    EXPECT_TRUE(snpp("MESS " + QByteArray(200, 'x') + "\r\n")
                    .startsWith("550 Error, line longer than 100"));
    EXPECT_TRUE(snpp("DATA\r\n").startsWith("354"));
    EXPECT_TRUE(snpp(QByteArray(60, 'y') + "\r\n.\r\n").startsWith("550"));
    EXPECT_TRUE(logged(QStringLiteral("refused: message longer than 10 characters")));
}

TEST_F(GatewayFixture, RecipientsAreReadAgainWhenTheIniChanges) {
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    EXPECT_TRUE(snpp("PAGE carol\r\n").startsWith("550"));
    writeIni(kIni + "Carol = 5550000, 2002\n");
    EXPECT_TRUE(snpp("PAGE CAROL\r\n").startsWith("250"));
    EXPECT_TRUE(logged(QStringLiteral("reloaded")));
    // A broken file keeps the last good recipients.
    writeIni("[recipients\nnonsense\n");
    EXPECT_TRUE(snpp("PAGE carol\r\n").startsWith("250"));
    EXPECT_TRUE(logged(QStringLiteral("previous settings kept")));
}

TEST_F(GatewayFixture, BurstsFromOneAddressAreLimited) {
    writeIni(kIni + "[limits]\npages_per_minute = 3\n");
    SessionDriver<SnppSession> snpp(*m_desk);
    SessionDriver<SnppSession> other(*m_desk, QStringLiteral("127.0.0.2"));
    snpp.start();
    other.start();
    const QByteArray page = "PAGE BOB\r\nMESS x\r\nSEND\r\n";
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(snpp(page).contains("250 Message Sent Successfully")) << i;
    }
    EXPECT_TRUE(snpp(page).contains("554 Error, too many pages"));
    EXPECT_TRUE(other(page).contains("250 Message Sent Successfully"));
    m_loop.advance(20);  // one page a 20 s back in the bucket
    EXPECT_TRUE(snpp(page).contains("250 Message Sent Successfully"));
    EXPECT_TRUE(snpp(page).contains("554"));
    EXPECT_EQ(queued().size(), 5);
}

TEST_F(GatewayFixture, QueueFolderIsReadFromTheStoreAtEveryPage) {
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    ASSERT_TRUE(QDir(dir()).mkpath(QStringLiteral("Q2/PENDING")));
    {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("update tblConfig set MessageQueueLocation=?"),
                    {QStringLiteral("Q2\\")});
    }
    EXPECT_TRUE(
        snpp("PAGE BOB\r\nMESS moved\r\nSEND\r\n").contains("250 Message Sent Successfully"));
    EXPECT_EQ(
        QDir(path(QStringLiteral("Q2"))).entryList({QStringLiteral("A*.PMF")}, QDir::Files).size(),
        1);
    {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("update tblConfig set MessageQueueLocation=?"),
                    {QStringLiteral("nowhere")});
    }
    EXPECT_TRUE(snpp("PAGE BOB\r\nMESS lost?\r\nSEND\r\n").contains("554 Error, page not queued"));
    EXPECT_TRUE(logged(QStringLiteral("refused: queue folder nowhere does not exist")));
}

// ---- SMTP

class SmtpScriptTest : public GatewayFixture, public ::testing::WithParamInterface<Script> {};

TEST_P(SmtpScriptTest, RepliesAndFiles) {
    SessionDriver<SmtpSession> smtp(*m_desk);
    EXPECT_TRUE(smtp.start().startsWith("220 pager.local"));
    for (const Step& s : GetParam().steps) {
        const QByteArray reply = smtp(QByteArray(s.send) + "\r\n");
        EXPECT_TRUE(reply.startsWith(s.expect)) << s.send << " -> " << reply.toStdString();
    }
    EXPECT_EQ(queued().size(), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, SmtpScriptTest,
    ::testing::Values(
        Script{"PlainMail",
               {{"EHLO me", "250-pager.local"},
                {"MAIL FROM:<a@b.c>", "250"},
                {"RCPT TO:<bob@Pager.Local>", "250"},
                {"DATA", "354"},
                {"Subject: Hi\r\n\r\nbody\r\n.", "250 2.0.0 OK queued as A"},
                {"QUIT", "221"}},
               1},
        Script{"TwoRecipients",
               {{"HELO me", "250"},
                {"MAIL FROM:<a@b.c>", "250"},
                {"RCPT TO:<bob@pager.local>", "250"},
                {"RCPT TO:<ONCALL@pager.local>", "250"},
                {"DATA", "354"},
                {"\r\nx\r\n.", "250"}},
               2},
        Script{"UnknownRecipientAtRcpt",
               {{"MAIL FROM:<a@b.c>", "250"},
                {"RCPT TO:<zed@pager.local>", "550 5.1.1"},
                {"DATA", "503"}},
               0},
        Script{"OtherDomainIsNoRelay",
               {{"MAIL FROM:<a@b.c>", "250"}, {"RCPT TO:<bob@example.com>", "550 5.7.1"}},
               0},
        Script{"SizeAnnouncedTooLarge", {{"MAIL FROM:<a@b.c> SIZE=999999999", "552"}}, 0},
        Script{"OrderOfCommands",
               {{"RCPT TO:<bob@pager.local>", "503"},
                {"DATA", "503"},
                {"MAIL FROM:<a@b.c>", "250"},
                {"MAIL FROM:<a@b.c>", "503"},
                {"RSET", "250"},
                {"STARTTLS", "502"},
                {"VRFY bob", "252"}},
               0},
        Script{"EmptyMailIsRefused",
               {{"MAIL FROM:<a@b.c>", "250"},
                {"RCPT TO:<bob@pager.local>", "250"},
                {"DATA", "354"},
                {"Subject:\r\n\r\n.", "554"}},
               0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayFixture, SmtpMimeMailBecomesOnePageWithSubjectAndPlainText) {
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    smtp("EHLO me\r\nMAIL FROM:<nagios@example.com>\r\nRCPT TO:<bob@pager.local>\r\nDATA\r\n");
    const QByteArray reply = smtp(
        "From: Nagios <nagios@example.com>\r\nSubject: =?UTF-8?Q?Caf=C3=A9_down?=\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
        "quoted-printable\r\n\r\n"
        "Host web1 is =\r\nDOWN =E2=80=93 check\r\n"
        "--b1\r\nContent-Type: text/html\r\n\r\n<p>ignored</p>\r\n--b1--\r\n.\r\n");
    EXPECT_TRUE(reply.startsWith("250")) << reply.toStdString();
    ASSERT_EQ(queued().size(), 1);
    const QStringList l = fileLines(queued().first());
    EXPECT_EQ(l[3], QStringLiteral("nagios@example.com"));
    EXPECT_EQ(l[4], QStringLiteral("SMTP"));
    EXPECT_EQ(l[7], QStringLiteral("5551234"));
    EXPECT_EQ(l[8], QStringLiteral("1001"));
    // The en dash is 0x96 in Windows-1252, so it reaches the file.
    EXPECT_EQ(l[22], QStringLiteral("Café down: Host web1 is DOWN – check"));
}

TEST_F(GatewayFixture, SmtpOversizedMailIsRefusedAfterData) {
    writeIni(kIni + "[limits]\nmax_mail = 2000\n");
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    smtp("HELO me\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<bob@pager.local>\r\nDATA\r\n");
    QByteArray big = "Subject: big\r\n\r\n";
    for (int i = 0; i < 100; ++i) {
        big += QByteArray(60, 'z') + "\r\n";
    }
    EXPECT_TRUE(smtp(big + ".\r\n").startsWith("552 5.3.4"));
    EXPECT_TRUE(queued().isEmpty());
    // The session goes on.
    EXPECT_TRUE(smtp("NOOP\r\n").startsWith("250"));
    EXPECT_TRUE(logged(QStringLiteral("refused: mail larger than 2000 bytes")));
}

// ---- HTTP

struct HttpCase {
    const char* name;
    QByteArray request;
    int status;
    const char* bodyHas;
};

QByteArray post(const QByteArray& body, const QByteArray& auth = "Bearer s3cret-token") {
    QByteArray r = "POST /api/pages HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
    if (!auth.isEmpty()) {
        r += "Authorization: " + auth + "\r\n";
    }
    return r + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

class HttpCaseTest : public GatewayFixture, public ::testing::WithParamInterface<HttpCase> {};

TEST_P(HttpCaseTest, Answers) {
    SessionDriver<HttpSession> http(*m_desk);
    const QByteArray out = http(GetParam().request);
    const int status = out.mid(9, 3).toInt();
    EXPECT_EQ(status, GetParam().status) << out.toStdString();
    EXPECT_TRUE(out.contains(GetParam().bodyHas)) << out.toStdString();
    EXPECT_TRUE(http.closed());
}

INSTANTIATE_TEST_SUITE_P(
    Http, HttpCaseTest,
    ::testing::Values(
        HttpCase{"OnePage", post(R"({"to":"bob","text":"hi","from":"cron"})"), 201,
                 "\"files\":[\"A"},
        HttpCase{"ListOfNames", post(R"({"to":["BOB","oncall"],"text":"hi"})"), 201, ".PMF\",\"A"},
        HttpCase{"MissingToken", post(R"({"to":"bob","text":"hi"})", ""), 401,
                 "missing bearer token"},
        HttpCase{"WrongToken", post(R"({"to":"bob","text":"hi"})", "Bearer nope"), 401,
                 "wrong bearer token"},
        HttpCase{"BasicIsNoToken", post(R"({"to":"bob","text":"hi"})", "Basic czNjcmV0"), 401,
                 "missing"},
        HttpCase{"BadJson", post(R"({"to":"bob",)"), 400, "bad JSON"},
        HttpCase{"NotAnObject", post(R"(["bob"])"), 400, "JSON object"},
        HttpCase{"UnknownName", post(R"({"to":["bob","zed"],"text":"hi"})"), 400,
                 "unknown recipient zed"},
        HttpCase{"NoText", post(R"({"to":"bob"})"), 400, "\\\"text\\\""},
        HttpCase{"NumberAsName", post(R"({"to":[7],"text":"x"})"), 400, "names"},
        HttpCase{"TooLarge",
                 "POST /api/pages HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n\r\n", 413,
                 "larger than"},
        HttpCase{"WrongMethod", "GET /api/pages HTTP/1.1\r\nHost: x\r\n\r\n", 405, "POST"},
        HttpCase{"NoSuchPath", "GET /etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", 404,
                 "no such resource"},
        HttpCase{"Health", "GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n", 200, "\"status\":\"ok\""},
        HttpCase{"Garbage", "HELLO\r\n\r\n", 400, "not an HTTP"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayFixture, HttpPageFileAndHeadersInPieces) {
    SessionDriver<HttpSession> http(*m_desk);
    const QByteArray request =
        post(R"({"to":"OnCall","text":"Line one\nline two","from":"monitor"})");
    QByteArray out;
    for (const char c : request) {
        out += http(QByteArray(1, c));  // a byte at a time
    }
    ASSERT_TRUE(out.startsWith("HTTP/1.1 201")) << out.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(out.mid(out.indexOf("\r\n\r\n") + 4)).object();
    ASSERT_EQ(queued(), QStringList{o.value(QStringLiteral("files")).toArray().first().toString()});
    const QStringList l = fileLines(queued().first());
    EXPECT_EQ(l[3], QStringLiteral("monitor"));
    EXPECT_EQ(l[7], QStringLiteral("5559876"));
    EXPECT_EQ(l[8], QStringLiteral("1002"));
    EXPECT_EQ(l[22], QStringLiteral("Line one line two"));
}

TEST_F(GatewayFixture, HttpHeadersWithoutEndAreBounded) {
    SessionDriver<HttpSession> http(*m_desk);
    QByteArray out = http("POST /api/pages HTTP/1.1\r\n");
    EXPECT_TRUE(out.isEmpty());
    out = http("X-Filler: " + QByteArray(20000, 'a'));
    EXPECT_TRUE(out.startsWith("HTTP/1.1 431")) << out.left(40).toStdString();
    EXPECT_TRUE(logged(QStringLiteral("refused (431)")));
}

}  // namespace
