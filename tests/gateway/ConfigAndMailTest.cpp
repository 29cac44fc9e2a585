// vtsgate.ini and the reading of mails: the rules in tables.
#include "GatewayConfig.h"
#include "MailText.h"
#include "Session.h"

#include <gtest/gtest.h>

using namespace vts::gate;

namespace {

GatewayConfig parsed(const QString& text) {
    QString error;
    auto c = GatewayConfig::parse(text, &error);
    EXPECT_TRUE(c) << error.toStdString();
    return c.value_or(GatewayConfig{});
}

TEST(GatewayConfigTest, ListenAddresses) {
    const struct {
        const char* value;
        const char* address;
        int port;
    } cases[] = {{"2525", "127.0.0.1", 2525},
                 {"127.0.0.1:444", "127.0.0.1", 444},
                 {"0.0.0.0:25", "0.0.0.0", 25},
                 {"[::1]:8088", "::1", 8088},
                 {"localhost:1", "127.0.0.1", 1}};
    for (const auto& c : cases) {
        const GatewayConfig g =
            parsed(QStringLiteral("[http]\nlisten = %1\n").arg(QString::fromLatin1(c.value)));
        EXPECT_TRUE(g.http.enabled) << c.value;
        EXPECT_FALSE(g.snpp.enabled) << c.value;
        EXPECT_EQ(g.http.address.toString(), QString::fromLatin1(c.address)) << c.value;
        EXPECT_EQ(g.http.port, c.port) << c.value;
    }
    for (const char* bad : {"host.example:25", "127.0.0.1:99999", "[::1:25", "25x"}) {
        QString error;
        EXPECT_FALSE(GatewayConfig::parse(
            QStringLiteral("[smtp]\ndomain=x\nlisten = %1\n").arg(QString::fromLatin1(bad)),
            &error))
            << bad;
        EXPECT_TRUE(error.contains(QStringLiteral("line 3"))) << error.toStdString();
    }
}

TEST(GatewayConfigTest, RecipientsCompareWithoutCaseAndBadLinesAreSkipped) {
    const GatewayConfig g = parsed(QStringLiteral(
        "[recipients]\n; comment\nBob = 5551234, 1001\nONCALL = 5551234 , 1002 , 80\n"
        "no-pin = 5551234\nbad name = 1, 2\nlong = 1, 2, 99999\nbob = 9, 9\n"
        "toolongnumber = 1234567890123456789012345678901, 1\njunk line\n"));
    ASSERT_EQ(g.recipients.size(), 2);
    ASSERT_TRUE(g.find(QStringLiteral("bOB")));
    EXPECT_EQ(g.find(QStringLiteral("BOB"))->phone, QStringLiteral("5551234"));
    EXPECT_EQ(g.find(QStringLiteral("oncall"))->pin, QStringLiteral("1002"));
    EXPECT_EQ(g.find(QStringLiteral("oncall"))->maxChars, 80);
    EXPECT_EQ(g.find(QStringLiteral("Bob"))->name, QStringLiteral("Bob"));
    EXPECT_EQ(g.warnings.size(), 6) << g.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(g.find(QStringLiteral("no-pin")));
}

TEST(GatewayConfigTest, AllowListDefaultsToLoopback) {
    const GatewayConfig loop = parsed(QString());
    EXPECT_TRUE(loop.allowed(QHostAddress(QStringLiteral("127.0.0.1"))));
    EXPECT_TRUE(loop.allowed(QHostAddress(QStringLiteral("::ffff:127.0.0.1"))));
    EXPECT_TRUE(loop.allowed(QHostAddress(QStringLiteral("::1"))));
    EXPECT_FALSE(loop.allowed(QHostAddress(QStringLiteral("10.1.2.3"))));
    const GatewayConfig lan =
        parsed(QStringLiteral("[gateway]\nallow = 10.0.0.0/8, 192.168.1.7\n"));
    EXPECT_TRUE(lan.allowed(QHostAddress(QStringLiteral("10.1.2.3"))));
    EXPECT_TRUE(lan.allowed(QHostAddress(QStringLiteral("192.168.1.7"))));
    EXPECT_FALSE(lan.allowed(QHostAddress(QStringLiteral("192.168.1.8"))));
    EXPECT_FALSE(lan.allowed(QHostAddress(QStringLiteral("127.0.0.1"))));
    QString error;
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[gateway]\nallow = everyone\n"), &error));
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[limits]\nmax_text = -1\n"), &error));
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[limits]\nmax_txet = 5\n"), &error));
    EXPECT_FALSE(GatewayConfig::parse(QStringLiteral("[smtp]\nlisten = 25\n"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("domain")));
}

TEST(LineReaderTest, LongLinesAreDroppedWholeAndMarked) {
    LineReader r(10);
    r.append("short\r\n0123456789abcdef");
    EXPECT_EQ(r.next()->text, QByteArray("short"));
    EXPECT_FALSE(r.next());  // the long line is being thrown away
    r.append("more and more\r\nnext\r\n");
    auto l = r.next();
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->tooLong);
    EXPECT_EQ(r.next()->text, QByteArray("next"));
    EXPECT_FALSE(r.next());
}

// Only CR LF ends a line; a lone LF or CR is text, and a CR LF split
// between two reads still ends the line.
TEST(LineReaderTest, OnlyCrLfEndsALine) {
    LineReader r(100);
    r.append("PAGE BOB\nPAGE ONCALL\r\nA\rB\r");
    EXPECT_EQ(r.next()->text, QByteArray("PAGE BOB\nPAGE ONCALL"));
    EXPECT_FALSE(r.next());
    r.append("\n.\n\r\n");
    EXPECT_EQ(r.next()->text, QByteArray("A\rB"));
    EXPECT_EQ(r.next()->text, QByteArray(".\n"));
    EXPECT_FALSE(r.next());
}

struct MailCase {
    const char* name;
    QByteArray mail;
    const char* subject;
    const char* text;
};

class MailTextTest : public ::testing::TestWithParam<MailCase> {};

TEST_P(MailTextTest, Extracts) {
    const auto c = mail::extract(GetParam().mail);
    EXPECT_EQ(c.subject, QString::fromUtf8(GetParam().subject));
    EXPECT_EQ(c.text.simplified(), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Mail, MailTextTest,
    ::testing::Values(
        MailCase{"Plain", "Subject: Hello\r\n\r\nbody text\r\n", "Hello", "body text"},
        MailCase{"LfOnlyAndFoldedSubject", "Subject: a long\n  subject\n\nx\n", "a long subject",
                 "x"},
        MailCase{"QuotedPrintable",
                 "Subject: s\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\nCaf=E9 soft=\r\nbreak =3D ok",
                 "s", "Café softbreak = ok"},
        MailCase{"Base64Utf8",
                 "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: "
                 "base64\r\n\r\nR3LDvMOfZQ==\r\n",
                 "", "Grüße"},
        MailCase{"EncodedWordsJoin",
                 "Subject: =?utf-8?B?w4RyZ2Vy?= =?utf-8?Q?_im_B=C3=BCro?=\r\n\r\nx",
                 "Ärger im Büro", "x"},
        MailCase{
            "HtmlOnly",
            "Content-Type: text/html\r\n\r\n<html><head><title>t</title><style>p{}</style></head>"
            "<body><p>Disk&nbsp;full</p><script>alert(1)</script>on &lt;web1&gt;<br>&#8364;5 &amp; "
            "&#x41;</body></html>",
            "", "Disk full on <web1> €5 & A"},
        MailCase{"AlternativePrefersPlain",
                 "Content-Type: multipart/alternative; boundary=XY\r\n\r\npreamble\r\n--XY\r\n"
                 "Content-Type: text/html\r\n\r\n<b>html</b>\r\n--XY\r\nContent-Type: "
                 "text/plain\r\n\r\nplain\r\n--XY--\r\n",
                 "", "plain"},
        MailCase{"MixedWithAttachmentAndNestedAlternative",
                 "Content-Type: multipart/mixed; boundary=\"o\"\r\n\r\n--o\r\n"
                 "Content-Type: multipart/alternative; boundary=\"i\"\r\n\r\n--i\r\nContent-Type: "
                 "text/plain\r\n\r\n"
                 "inner text\r\n--i--\r\n--o\r\nContent-Type: text/plain\r\nContent-Disposition: "
                 "attachment; filename=a.txt\r\n\r\n"
                 "attached\r\n--o--\r\n",
                 "", "inner text"},
        MailCase{"OnlyAttachment",
                 "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: "
                 "application/pdf\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n--o--\r\n",
                 "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailTextTest, QuotedPrintableKeepsWhatIsNotAnEscape) {
    EXPECT_EQ(mail::decodeQuotedPrintable("a=3Db=zz=4"), QByteArray("a=b=zz=4"));
    EXPECT_EQ(mail::decodeQuotedPrintable("end=  \r\nnext"), QByteArray("endnext"));
}

}  // namespace
