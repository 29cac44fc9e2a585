// Accounts (Argon2id hashes in vtsgate.ini), what a user may page, and
// groups, through all three protocols without sockets.
#include "Accounts.h"
#include "GatewayFixture.h"
#include "HttpSession.h"
#include "LogStore.h"
#include "SmtpSession.h"
#include "SnppSession.h"

using namespace vts;
using namespace vts::gate;
using namespace vts::gate::test;

namespace {

class AccountsTest : public GatewayFixture {
protected:
    void SetUp() override {
        GatewayFixture::SetUp();
        static const QString alice = Accounts::hash("alice pw");
        static const QString token = Accounts::hash("alice-token");
        writeIni(kIni + QStringLiteral("[snpp]\nauth = required\n[smtp]\nauth = required\n"
                                       "[users]\nalice = %1\nbroken = plain-text\n"
                                       "[tokens]\nalice = %2\n"
                                       "[access]\nalice = BOB, TEAM\n"
                                       "[groups]\nTEAM = bob, OnCall\nALL = TEAM, BOB\n"
                                       "LOOP = LOOP2\nLOOP2 = LOOP\nZEDS = zed\n")
                            .arg(alice, token)
                            .toUtf8());
    }
    QStringList recipients() const {
        QStringList out;
        for (const QString& f : queued()) {
            out << fileLines(f).value(5);
        }
        out.sort();
        return out;
    }
    QByteArray post(const QByteArray& token, const QByteArray& body) {
        SessionDriver<HttpSession> http(*m_desk);
        return http("POST /api/pages HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
                    "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
};

TEST_F(AccountsTest, HashesAreArgon2idAndOnlyTheirPasswordMatches) {
    const QString h = Accounts::hash("secret");
    EXPECT_TRUE(h.startsWith(QStringLiteral("$argon2id$"))) << h.toStdString();
    EXPECT_NE(h, Accounts::hash("secret"));  // salted
    EXPECT_TRUE(Accounts::matches(h, "secret"));
    EXPECT_FALSE(Accounts::matches(h, "secreT"));
    EXPECT_FALSE(Accounts::matches(QStringLiteral("secret"), "secret"));
    EXPECT_TRUE(
        m_desk->settings().warnings.join(QLatin1Char('\n')).contains(QStringLiteral("broken")));
}

TEST_F(AccountsTest, SnppLogiChecksThePassword) {
    SessionDriver<SnppSession> snpp(*m_desk);
    snpp.start();
    EXPECT_TRUE(snpp("PAGE BOB\r\n").startsWith("550 Error, Login Required"));
    EXPECT_TRUE(snpp("LOGI alice wrong\r\n").startsWith("550 Error, Invalid Login"));
    EXPECT_TRUE(snpp("LOGI alice alice pw\r\n").startsWith("250"));
    EXPECT_TRUE(
        snpp("PAGE ONCALL\r\nMESS x\r\nSEND\r\n").contains("550 Error, alice may not page"));
    EXPECT_TRUE(snpp("PAGE TEAM\r\nMESS x\r\nSEND\r\n").contains("250 Message Sent Successfully"));
    EXPECT_EQ(recipients(), (QStringList{QStringLiteral("BOB"), QStringLiteral("OnCall")}));
    EXPECT_TRUE(logged(QStringLiteral("by user alice")));
    for (const QString& l : m_logLines) {
        EXPECT_FALSE(l.contains(QStringLiteral("wrong")) || l.contains(QStringLiteral("alice pw")))
            << l.toStdString();
    }
}

TEST_F(AccountsTest, SmtpAuthPlainAndLogin) {
    SessionDriver<SmtpSession> smtp(*m_desk);
    smtp.start();
    EXPECT_TRUE(smtp("EHLO me\r\n").contains("250-AUTH PLAIN LOGIN"));
    EXPECT_TRUE(smtp("MAIL FROM:<a@b.c>\r\n").startsWith("530"));
    EXPECT_TRUE(smtp("AUTH PLAIN " + QByteArray("\0alice\0nope", 11).toBase64() + "\r\n")
                    .startsWith("535"));
    EXPECT_TRUE(smtp("AUTH LOGIN\r\n").startsWith("334 VXNlcm5hbWU6"));
    EXPECT_TRUE(smtp(QByteArray("alice").toBase64() + "\r\n").startsWith("334 UGFzc3dvcmQ6"));
    EXPECT_TRUE(smtp(QByteArray("alice pw").toBase64() + "\r\n").startsWith("235"));
    EXPECT_TRUE(smtp("MAIL FROM:<a@b.c>\r\nRCPT TO:<team@pager.local>\r\nDATA\r\n"
                     "Subject: s\r\n\r\nx\r\n.\r\n")
                    .contains("250 2.0.0 OK queued as"));
    EXPECT_EQ(recipients(), (QStringList{QStringLiteral("BOB"), QStringLiteral("OnCall")}));
    // Not from loopback and not under TLS: no password is taken.
    SessionDriver<SmtpSession> remote(*m_desk, QStringLiteral("10.1.2.3"));
    remote.start();
    EXPECT_FALSE(remote("EHLO me\r\n").contains("AUTH"));
    EXPECT_TRUE(remote("AUTH PLAIN " + QByteArray("\0alice\0alice pw", 15).toBase64() + "\r\n")
                    .startsWith("538"));
}

TEST_F(AccountsTest, HttpUserTokensAndAccess) {
    logstore::create(dir());
    EXPECT_TRUE(post("alice-token", R"({"to":"oncall","text":"x"})").startsWith("HTTP/1.1 403"));
    EXPECT_TRUE(
        post("alice-token", R"({"to":["bob","TEAM"],"text":"x"})").startsWith("HTTP/1.1 201"));
    EXPECT_TRUE(post("bob-token", R"({"to":"bob","text":"x"})").startsWith("HTTP/1.1 401"));
    // The shared token is bound by no [access] line.
    EXPECT_TRUE(post("s3cret-token", R"({"to":"ALL","text":"y"})").startsWith("HTTP/1.1 201"));
    EXPECT_EQ(recipients(), (QStringList{QStringLiteral("BOB"), QStringLiteral("BOB"),
                                         QStringLiteral("OnCall"), QStringLiteral("OnCall")}));
    EXPECT_TRUE(logged(QStringLiteral("by user ALICE")));
    // Kept beside the log by file name, for the console; not for the shared token.
    auto log = logstore::open(dir());
    auto rs = log->openQuery(
        QStringLiteral("SELECT User, count(*) AS n FROM tblGatewayUser GROUP BY User"), {});
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->text(QStringLiteral("User")), QStringLiteral("ALICE"));
    EXPECT_EQ(rs->int32(QStringLiteral("n")), 2);
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
}

// Every hash checked costs a tenth of a second: an address past its rate
// gets no more tries, not even with the right token, until it refills.
TEST_F(AccountsTest, WrongTokensStopBeingCheckedPastTheRate) {
    writeIni(readFile(QStringLiteral("vtsgate.ini")) + "[limits]\npages_per_minute = 2\n");
    const QByteArray body = R"({"to":"bob","text":"x"})";
    EXPECT_TRUE(post("guess-1", body).startsWith("HTTP/1.1 401"));
    EXPECT_TRUE(post("guess-2", body).startsWith("HTTP/1.1 401"));
    EXPECT_TRUE(post("alice-token", body).startsWith("HTTP/1.1 429"));
    m_loop.advance(30);
    EXPECT_TRUE(post("alice-token", body).startsWith("HTTP/1.1 201"));
    SessionDriver<SnppSession> snpp(*m_desk, QStringLiteral("10.9.9.9"));
    snpp.start();
    EXPECT_TRUE(snpp("LOGI alice a\r\nLOGI alice b\r\n").contains("550 Error, Invalid Login"));
    EXPECT_TRUE(snpp("LOGI alice alice pw\r\n").startsWith("421"));
}

TEST_F(AccountsTest, GroupsMayNotContainThemselvesOrUnknownNames) {
    const GatewayConfig& c = m_desk->settings();
    EXPECT_FALSE(c.groups.contains(QStringLiteral("LOOP")));
    EXPECT_FALSE(c.groups.contains(QStringLiteral("LOOP2")));
    EXPECT_FALSE(c.groups.contains(QStringLiteral("ZEDS")));
    ASSERT_TRUE(c.groups.contains(QStringLiteral("ALL")));
    // A group within a group, and a member named twice: each pager once.
    EXPECT_EQ(c.expand(QStringLiteral("all")).size(), 2);
    const QString warnings = c.warnings.join(QLatin1Char('\n'));
    EXPECT_TRUE(warnings.contains(QStringLiteral("contains itself"))) << warnings.toStdString();
    EXPECT_TRUE(warnings.contains(QStringLiteral("zed is neither"))) << warnings.toStdString();
}

}  // namespace
