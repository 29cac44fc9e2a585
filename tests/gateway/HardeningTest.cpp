// What a stranger on the network may send: bytes no ordinary client sends,
// driven into the protocols without sockets, one table per rule.
#include "GatewayFixture.h"
#include "HttpSession.h"
#include "MailText.h"
#include "QueueFileWriter.h"
#include "SmtpSession.h"
#include "SnppSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

using namespace vts;
using namespace vts::gate;
using namespace vts::gate::test;

namespace {

// ---- SNPP: a line ends at CR LF only, commands by their first four letters

struct SnppCase {
    const char* name;
    QByteArray bytes;     // sent in one piece
    QStringList pages;    // "recipient|text" of every file written, sorted
    const char* replies;  // the reply codes in order, blank-separated
};

class SnppBytesTest : public GatewayFixture, public ::testing::WithParamInterface<SnppCase> {};

TEST_P(SnppBytesTest, FilesAndReplies) {
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    const QByteArray out = snpp(GetParam().bytes);
    QStringList codes;
    for (const QByteArray& line : out.split('\n')) {
        if (line.size() >= 3) {
            codes << QString::fromLatin1(line.left(3));
        }
    }
    EXPECT_EQ(codes.join(QLatin1Char(' ')), QString::fromLatin1(GetParam().replies))
        << out.toStdString();
    QStringList pages;
    for (const QString& f : queued()) {
        const QStringList l = fileLines(f);
        pages << l.value(5) + QLatin1Char('|') + l.value(22);
    }
    pages.sort();
    EXPECT_EQ(pages, GetParam().pages);
}

INSTANTIATE_TEST_SUITE_P(
    Snpp, SnppBytesTest,
    ::testing::Values(
        // A newline inside the text adds no recipient: it is a blank.
        SnppCase{"LfInMessageIsText",
                 "PAGE BOB\r\nMESS disk full\nPAGE ONCALL\r\nSEND\r\n",
                 {QStringLiteral("BOB|disk full PAGE ONCALL")},
                 "250 250 250"},
        SnppCase{"LfInPageCommand",
                 "PAGE BOB\nPAGE ONCALL\r\nMESS x\r\nSEND\r\n",
                 {QStringLiteral("BOB|x")},
                 "250 250 250"},
        SnppCase{"CrInMessageIsText",
                 "PAGE BOB\r\nMESS a\rb\r\nSEND\r\n",
                 {QStringLiteral("BOB|a b")},
                 "250 250 250"},
        SnppCase{"LfDotInDataIsText",
                 "PAGE BOB\r\nDATA\r\nline\n.\nPAGE ONCALL\r\n.\r\nSEND\r\n",
                 {QStringLiteral("BOB|line . PAGE ONCALL")},
                 "250 354 250 250"},
        SnppCase{"LongSpellings",
                 "PAGEr BOB\r\nMESSage x\r\nRESEt\r\nPAGER ONCALL\r\nMESSAGE y\r\nSENDit\r\n",
                 {QStringLiteral("OnCall|y")},
                 "250 250 250 250 250 250"},
        SnppCase{"PagerNamedTwiceGetsOnePage",
                 "PAGE BOB\r\nPAGE bob\r\nPAGE ONCALL\r\nMESS x\r\nSEND\r\n",
                 {QStringLiteral("BOB|x"), QStringLiteral("OnCall|x")},
                 "250 250 250 250 250"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- SMTP: only CR LF . CR LF ends the data

class SmtpSmugglingTest : public GatewayFixture,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(SmtpSmugglingTest, ASecondMailCannotHideInTheFirst) {
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    smtp("EHLO me\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<bob@pager.local>\r\nDATA\r\n");
    const QByteArray end = GetParam();
    const QByteArray out = smtp("Subject: first\r\n\r\nhello" + end +
                                "MAIL FROM:<boss@b.c>\r\nRCPT TO:<oncall@pager.local>\r\nDATA\r\n"
                                "Subject: smuggled\r\n\r\npage oncall\r\n.\r\n");
    // One reply only: the whole lot was one mail, refused for its bare line end.
    EXPECT_EQ(out.count("\r\n"), 1) << out.toStdString();
    EXPECT_TRUE(out.startsWith("550 5.6.11")) << out.toStdString();
    EXPECT_TRUE(queued().isEmpty());
    EXPECT_TRUE(smtp("NOOP\r\n").startsWith("250"));
    EXPECT_TRUE(logged(QStringLiteral("lone LF or CR")));
}

std::string endName(const ::testing::TestParamInfo<const char*>& info) {
    static const char* const names[] = {"LfDotLf", "CrLfDotLf", "LfDotCrLf", "CrDotCr"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Smtp, SmtpSmugglingTest,
                         ::testing::Values("\n.\n", "\r\n.\n", "\n.\r\n", "\r.\r"), endName);

// RFC 5321 rules, one exchange per row.
struct Step {
    const char* send;
    const char* expect;
};

class SmtpRulesTest
    : public GatewayFixture,
      public ::testing::WithParamInterface<std::pair<const char*, std::vector<Step>>> {};

TEST_P(SmtpRulesTest, Replies) {
    writeIni(kIni + "[smtp]\npostmaster = oncall\n");
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    for (const Step& s : GetParam().second) {
        const QByteArray reply = smtp(QByteArray(s.send) + "\r\n");
        EXPECT_TRUE(reply.startsWith(s.expect)) << s.send << " -> " << reply.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, SmtpRulesTest,
    ::testing::Values(
        std::pair<const char*, std::vector<Step>>{
            "PostmasterIsTaken",
            {{"HELO me", "250"},
             {"MAIL FROM:<>", "250"},
             {"RCPT TO:<postmaster>", "250"},
             {"RCPT TO:<Postmaster@pager.local>", "250"},
             {"DATA", "354"},
             {"Subject: bounce\r\n\r\nx\r\n.", "250 2.0.0 OK queued as A"}}},
        std::pair<const char*, std::vector<Step>>{
            "UnknownParameters",
            {{"EHLO me", "250"},
             {"MAIL FROM:<a@b.c> SMTPUTF8", "555"},
             {"MAIL FROM:<a@b.c> BODY=BINARYMIME", "501"},
             {"MAIL FROM:<a@b.c> SIZE=10 BODY=8BITMIME", "250"},
             {"RCPT TO:<bob@pager.local> NOTIFY=NEVER", "555"},
             {"RCPT TO:<bob@pager.local>", "250"}}},
        std::pair<const char*, std::vector<Step>>{
            "GreetingNeedsADomain", {{"EHLO", "501"}, {"HELO ", "501"}, {"EHLO me", "250"}}},
        std::pair<const char*, std::vector<Step>>{"BareLfInACommand",
                                                  {{"EHLO me\nMAIL FROM:<a@b.c>", "500 5.5.2"}}}),
    [](const auto& info) { return std::string(info.param.first); });

TEST_F(GatewayFixture, RecipientNamedTwiceInOneMailGetsOnePage) {
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    smtp("EHLO me\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<bob@pager.local>\r\n");
    EXPECT_TRUE(smtp("RCPT TO:<BOB@pager.local>\r\n").startsWith("250"));
    EXPECT_TRUE(smtp("DATA\r\nSubject: s\r\n\r\nx\r\n.\r\n").contains("250 2.0.0"));
    EXPECT_EQ(queued().size(), 1);
}

TEST(SmtpDefaultsTest, IdleTimeIsFiveMinutesUnlessSet) {
    QString error;
    EXPECT_EQ(GatewayConfig::parse(QString(), &error)->limits.smtpIdleSeconds, 300);
    EXPECT_EQ(GatewayConfig::parse(QStringLiteral("[limits]\nsmtp_idle_timeout = 20\n"), &error)
                  ->limits.smtpIdleSeconds,
              20);
}

// ---- HTTP/1.1 (RFC 9110, 9112)

struct HttpRule {
    const char* name;
    QByteArray request;
    int status;
    bool body;  // the answer carries a body
};

QByteArray request(const QByteArray& head, const QByteArray& body = {}) {
    return head + "\r\n\r\n" + body;
}

const QByteArray kPage = R"({"to":"bob","text":"hi"})";
const QByteArray kAuth = "Authorization: Bearer s3cret-token\r\n";

class HttpRulesTest : public GatewayFixture, public ::testing::WithParamInterface<HttpRule> {};

TEST_P(HttpRulesTest, Answers) {
    SessionDriver<HttpSession> http(*m_desk);
    const QByteArray out = http(GetParam().request);
    EXPECT_EQ(out.mid(9, 3).toInt(), GetParam().status) << out.toStdString();
    const auto headEnd = out.indexOf("\r\n\r\n");
    EXPECT_EQ(out.size() > headEnd + 4, GetParam().body) << out.toStdString();
    EXPECT_TRUE(http.closed());
    EXPECT_EQ(queued().size(), GetParam().status == 201 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Http, HttpRulesTest,
    ::testing::Values(
        HttpRule{"TwoDifferentLengths",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Content-Length: 24\r\nContent-Length: 25",
                         kPage),
                 400, true},
        HttpRule{"SameLengthTwice",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Content-Length: 24\r\nContent-Length: 24",
                         kPage),
                 201, true},
        HttpRule{"SignedLength",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth + "Content-Length: +24",
                         kPage),
                 400, true},
        HttpRule{"NoHost",
                 request("POST /api/pages HTTP/1.1\r\n" + kAuth + "Content-Length: 24", kPage), 400,
                 true},
        HttpRule{"SpaceBeforeColon",
                 request("POST /api/pages HTTP/1.1\r\nHost : x\r\n" + kAuth + "Content-Length: 24",
                         kPage),
                 400, true},
        HttpRule{"FoldedHeader",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Content-Length: 24\r\nX-A: 1\r\n 2",
                         kPage),
                 400, true},
        HttpRule{"AbsoluteForm",
                 request("POST http://127.0.0.1:8088/api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Content-Length: 24",
                         kPage),
                 201, true},
        HttpRule{"HeadHealthHasNoBody", request("HEAD /api/health HTTP/1.1\r\nHost: x"), 200,
                 false},
        HttpRule{"HeadPagesHasNoBody", request("HEAD /api/pages HTTP/1.1\r\nHost: x"), 405, false},
        HttpRule{"UnknownMethod", request("BREW /api/pages HTTP/1.1\r\nHost: x"), 501, true},
        HttpRule{"KnownMethodWrongPlace", request("DELETE /api/pages HTTP/1.1\r\nHost: x"), 405,
                 true},
        HttpRule{"LowerCaseBearer",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\nauthorization: bearer "
                         "s3cret-token\r\nContent-Length: 24",
                         kPage),
                 201, true},
        HttpRule{"Chunked",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Transfer-Encoding: chunked",
                         "a;ext=1\r\n{\"to\":\"bob\r\nd\r\n\",\"text\":\"hi\"\r\n1\r\n}\r\n0\r\n"
                         "X-Trailer: y\r\n\r\n"),
                 201, true},
        HttpRule{"ChunkedAndLength",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Transfer-Encoding: chunked\r\nContent-Length: 5",
                         "0\r\n\r\n"),
                 400, true},
        HttpRule{
            "OtherCoding",
            request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth + "Transfer-Encoding: gzip"),
            501, true},
        HttpRule{"BadChunkSize",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Transfer-Encoding: chunked",
                         "-5\r\nabc\r\n"),
                 400, true},
        HttpRule{"ChunksBeyondTheBodyLimit",
                 request("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                             "Transfer-Encoding: chunked",
                         "FFFFFF\r\n"),
                 413, true},
        HttpRule{"Http2", request("GET /api/health HTTP/2.0\r\nHost: x"), 505, true},
        HttpRule{"Http10NeedsNoHost", request("GET /api/health HTTP/1.0"), 200, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayFixture, HealthNamesNoFolderWithoutTheToken) {
    {
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("update tblConfig set MessageQueueLocation=?"),
                    {QStringLiteral("secret-share")});
    }
    SessionDriver<HttpSession> anonymous(*m_desk);
    const QByteArray open = anonymous("GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(open.startsWith("HTTP/1.1 503")) << open.toStdString();
    EXPECT_FALSE(open.contains("secret-share")) << open.toStdString();
    EXPECT_FALSE(open.contains("recipients")) << open.toStdString();
    SessionDriver<HttpSession> admin(*m_desk);
    EXPECT_TRUE(
        admin("GET /api/health HTTP/1.1\r\nHost: x\r\n" + kAuth + "\r\n").contains("secret-share"));
}

// Unknown names cost like pages: past the rate no more names can be tried.
TEST_F(GatewayFixture, RecipientNamesCannotBeProbedWithoutLimit) {
    writeIni(kIni + "[limits]\npages_per_minute = 3\n");
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    for (const char* name : {"alice", "carol", "dave"}) {
        EXPECT_TRUE(snpp(QByteArray("PAGE ") + name + "\r\n").startsWith("550")) << name;
    }
    EXPECT_TRUE(snpp("PAGE erin\r\n").startsWith("421"));
    EXPECT_TRUE(snpp.closed());
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    EXPECT_TRUE(smtp("HELO me\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<frank@pager.local>\r\n")
                    .contains("450 4.7.1"));
    SessionDriver<HttpSession> http(*m_desk);
    const QByteArray body = R"({"to":"bob","text":"x"})";
    EXPECT_TRUE(http("POST /api/pages HTTP/1.1\r\nHost: x\r\n" + kAuth +
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body)
                    .startsWith("HTTP/1.1 429"));
    m_loop.advance(20);  // the bucket refills: names may be looked up again
    SessionDriver<SnppSession> later(*m_desk);
    later.start();
    EXPECT_TRUE(later("PAGE BOB\r\n").startsWith("250"));
}

// ---- the log names the command a refusal answers

TEST_F(GatewayFixture, RefusalLogLinesNameTheCommand) {
    SessionDriver<SnppSession> snpp(*m_desk);
    SessionDriver<SmtpSession> smtp(*m_desk);
    SessionDriver<HttpSession> http(*m_desk);
    snpp.start();
    smtp.start();
    snpp("XYZZY 1\r\nPAGE zed\r\n");
    smtp("TURN\r\n");
    http("GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n");
    for (const char* line :
         {"refused: 500 Command Not Implemented (command XYZZY)",
          "refused: unknown recipient zed (command PAGE)",
          "refused: 502 5.5.1 Command not implemented (command TURN)", "(command GET /nothing)"}) {
        EXPECT_TRUE(logged(QString::fromLatin1(line)))
            << line << "\n"
            << m_logLines.join(QLatin1Char('\n')).toStdString();
    }
}

// ---- page text

TEST(PageTextTest, InvisibleAndControlCharactersGoAccentsAreComposed) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"a\x01"
         "b\x7f"
         "c",
         "abc"},  // controls dropped, not blanks
        {"caf"
         "e\xcc\x81",
         "caf\xc3\xa9"},                         // e + combining acute: é
        {"zero\xe2\x80\x8bwidth", "zerowidth"},  // U+200B
        {"\xef\xbb\xbf"
         "bom",
         "bom"},                                             // U+FEFF
        {"left\xe2\x80\x8f\xe2\x80\xaeright", "leftright"},  // bidi marks
        {"  two \t\n lines\r\n", "two lines"},               // white space: one blank
        {"\xc2\x85next", "next"},                            // NEL is white space
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PageSubmitter::pageText(QString(), QString::fromUtf8(c.in)),
                  QString::fromUtf8(c.out))
            << c.in;
    }
}

TEST_F(GatewayFixture, MaxTextCountsCharactersNotUtf16Units) {
    writeIni(kIni + "[limits]\nmax_text = 10\n");
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    // Ten characters outside the BMP are twenty UTF-16 units.
    const QByteArray emoji = QByteArray("\xf0\x9f\x94\xa5").repeated(10);
    EXPECT_TRUE(snpp("PAGE BOB\r\nMESS " + emoji + "\r\n").contains("250 Message OK"));
    EXPECT_TRUE(snpp("SEND\r\n").startsWith("250"));
    EXPECT_EQ(queued().size(), 1);
}

// ---- HTML mail: time grows with the length, not its square

TEST(HtmlTextTest, UnclosedScriptsCostLinearTime) {
    QString html = QStringLiteral("<p>before</p>");
    html += QStringLiteral("<script>").repeated(200000);  // 1.6 MB
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(mail::htmlToText(html), QStringLiteral("before"));
    // A pass over each tag for every other one took minutes at this size.
    EXPECT_LT(t.elapsed(), 3000);
    t.restart();
    EXPECT_EQ(mail::htmlToText(QStringLiteral("<").repeated(500000) + QStringLiteral("x")).size(),
              500001);
    EXPECT_LT(t.elapsed(), 3000);
}

TEST(HtmlTextTest, Rules) {
    const struct {
        const char* html;
        const char* text;
    } cases[] = {{"<p>a</p><script>x<p>y</p>", "a"},     // unclosed script: rest dropped
                 {"5 < 6 and <b>7</b>", "5 < 6 and 7"},  // a lone '<' is text
                 {"<!-- c -->a<!-- open", "a"},          // unclosed comment
                 {"<STYLE>p{}</style >b<br>c", "b\nc"},  // end tags in any case
                 {"x&#0;y&#xD800;z&#65;", "xyzA"},       // no character: dropped
                 {"<head><title>t</title></head><div>body</div>", "body"}};
    for (const auto& c : cases) {
        EXPECT_EQ(mail::htmlToText(QString::fromUtf8(c.html)), QString::fromUtf8(c.text)) << c.html;
    }
}

// ---- all or nothing, and no leftovers

TEST_F(GatewayFixture, SeveralFilesAreWrittenAllOrNone) {
    QueueMessage good;
    good.method = QStringLiteral("TAP");
    good.recipient = QStringLiteral("BOB");
    good.tapPhoneNumber = QStringLiteral("5551234");
    good.tapPin = QStringLiteral("1001");
    good.message = QStringLiteral("x");
    QueueMessage bad = good;
    bad.tapPin = QString(21, QLatin1Char('9'));
    QueueFileWriter writer(path(QStringLiteral("QUEUE")));
    QString error;
    EXPECT_TRUE(writer.writeAll({good, good, bad}, &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("PIN"))) << error.toStdString();
    EXPECT_TRUE(QDir(path(QStringLiteral("QUEUE")))
                    .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_EQ(writer.writeAll({good, good}, &error).size(), 2);
    EXPECT_EQ(queued().size(), 2);
}

TEST_F(GatewayFixture, TemporaryFilesOfStoppedGatewaysAreRemoved) {
    // 4194400 is above the largest pid_max Linux allows: no process has it.
    const QString queue = path(QStringLiteral("QUEUE"));
    const QString stale = QStringLiteral(".vtsgate-%1-0123abcd.tmp").arg(4194400);
    const QString mine =
        QStringLiteral(".vtsgate-%1-0123abcd.tmp").arg(QCoreApplication::applicationPid());
    const QString other = QStringLiteral(".vtspage-%1-0123abcd.tmp").arg(4194400);
    for (const QString& f : {stale, mine, other}) {
        writeFile(QStringLiteral("QUEUE/") + f, "x");
    }
    EXPECT_EQ(PageSubmitter::removeStaleTemporaries(queue), 1);
    EXPECT_FALSE(QFile::exists(queue + QLatin1Char('/') + stale));
    EXPECT_TRUE(QFile::exists(queue + QLatin1Char('/') + mine));
    EXPECT_TRUE(QFile::exists(queue + QLatin1Char('/') + other));
}

// ---- vtsgate.ini

TEST(GatewayConfigRulesTest, InlineCommentsAndNumbersThatAreNone) {
    QString error;
    const auto c = GatewayConfig::parse(
        QStringLiteral("[recipients]\n"
                       "BOB = 5551234, 1001 ; Bob's pager\n"
                       "ANN = 5551234, 1002, 80   ; with a width\n"
                       "ZED = 555-1234x, 1003\n"
                       "UMA = 5551234, 10 04\n"
                       "[http]\ntoken = abc;def ; the token keeps its own ';'\n"),
        &error);
    ASSERT_TRUE(c) << error.toStdString();
    ASSERT_TRUE(c->find(QStringLiteral("bob")));
    EXPECT_EQ(c->find(QStringLiteral("bob"))->pin, QStringLiteral("1001"));
    EXPECT_EQ(c->find(QStringLiteral("ann"))->maxChars, 80);
    EXPECT_FALSE(c->find(QStringLiteral("zed")));
    EXPECT_FALSE(c->find(QStringLiteral("uma")));
    EXPECT_EQ(c->warnings.size(), 2) << c->warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(c->token, QStringLiteral("abc;def"));
}

}  // namespace
