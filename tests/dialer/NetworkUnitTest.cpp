// The port kinds' parsing and wire rules, without a peer.
#include <Dialer.h>
#include <PortKinds.h>
#include <SmsPdu.h>
#include <SnppTransport.h>
#include <TcpLine.h>
#include <Transport.h>

#include <algorithm>

#include <QFile>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vts {
namespace {

// Every entry form through the registry: the kind, the target, the words
// the trace uses and the transport that serves it; a malformed entry or a
// misspelt kind is refused, naming the entry.
TEST(PortTarget, EntriesOfEveryKind) {
    using K = PortTarget::Kind;
    const struct {
        const char* entry;
        bool ok;
        K kind;
        const char* where;  // device, host or URL
        int port;
        const char* description;
    } cases[] = {
        {"/dev/ttyUSB0", true, K::Modem, "/dev/ttyUSB0", 0, "modem on /dev/ttyUSB0"},
        {"tcp:paging.example.org:5000", true, K::TapTcp, "paging.example.org", 5000,
         "paging terminal at paging.example.org port 5000"},
        {"TCP: 10.0.0.7 : 23", true, K::TapTcp, "10.0.0.7", 23,
         "paging terminal at 10.0.0.7 port 23"},
        {"tcp:[::1]:444", true, K::TapTcp, "::1", 444, "paging terminal at ::1 port 444"},
        {"snpp:snpp.example.org:444", true, K::Snpp, "snpp.example.org", 444,
         "SNPP server at snpp.example.org port 444"},
        {"wctp:https://wctp.example.org/wctp", true, K::Wctp, "https://wctp.example.org/wctp", 0,
         "WCTP endpoint https://wctp.example.org/wctp"},
        {"gsm:/dev/ttyACM0", true, K::Gsm, "/dev/ttyACM0", 0, "GSM modem on /dev/ttyACM0"},
        {"/dev/serial/by-id/usb-x:if00", true, K::Modem, "/dev/serial/by-id/usb-x:if00", 0,
         "modem on /dev/serial/by-id/usb-x:if00"},
        {"tcp:host", false, K::TapTcp, "", 0, ""},
        {"tcp:host:0", false, K::TapTcp, "", 0, ""},
        {"tcp:host:70000", false, K::TapTcp, "", 0, ""},
        {"tcp:host:99999", false, K::TapTcp, "", 0, ""},
        {"tcp:bad host:25", false, K::TapTcp, "", 0, ""},
        {"snpp::444", false, K::Snpp, "", 0, ""},
        {"wctp:ftp://example.org/", false, K::Wctp, "", 0, ""},
        {"wctp:http://", false, K::Wctp, "", 0, ""},
        {"wctp:", false, K::Wctp, "", 0, ""},
        {"gsm:", false, K::Gsm, "", 0, ""},
        {"tpc:host:5000", false, K::Modem, "", 0, ""},  // a misspelt kind is no device
    };
    const DialerOptions options;
    for (const auto& c : cases) {
        QString error;
        const auto t = PortTarget::parse(QString::fromLatin1(c.entry), &error);
        ASSERT_EQ(t.has_value(), c.ok) << c.entry;
        if (!t) {
            EXPECT_FALSE(error.isEmpty()) << c.entry;
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.entry))) << error.toStdString();
            continue;
        }
        EXPECT_EQ(t->kind, c.kind) << c.entry;
        const QString where = t->kind == K::Wctp                           ? t->url
                              : (t->kind == K::Modem || t->kind == K::Gsm) ? t->device
                                                                           : t->host;
        EXPECT_EQ(where, QString::fromLatin1(c.where)) << c.entry;
        EXPECT_EQ(t->port, c.port) << c.entry;
        EXPECT_EQ(t->describe(), QString::fromLatin1(c.description)) << c.entry;
        EXPECT_EQ(portKind(t->kind).create(*t, options)->kind(), c.kind) << c.entry;
    }
}

// A kind without its row (or a row whose factory makes another kind's
// transport) would send pages down the wrong road.
TEST(PortTarget, EveryKindHasOneRowAndItsOwnTransport) {
    const DialerOptions options;
    const auto rows = portKinds();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(PortTarget::Kind::Count));
    for (int i = 0; i < static_cast<int>(PortTarget::Kind::Count); ++i) {
        const auto kind = static_cast<PortTarget::Kind>(i);
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                [kind](const PortKind& k) { return k.kind == kind; }),
                  1)
            << i;
        const PortKind& row = portKind(kind);
        EXPECT_NE(QString::fromLatin1(row.summary), QString()) << i;
        PortTarget target;
        target.kind = kind;
        EXPECT_EQ(row.create(target, options)->kind(), kind) << row.form;
    }
}

// Each kind reads its own settings from calvex.ini.
TEST(PortTarget, KindsReadTheirOwnSettings) {
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("calvex.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[snpp]\nmessmax=99999\n[wctp]\noriginator= ops \n[gsm]\npin= 4321\n");
    f.close();
    const DialerOptions o = DialerOptions::fromIni(f.fileName());
    EXPECT_EQ(o.snppMessMax, 10000);
    EXPECT_EQ(o.wctpOriginator, QStringLiteral("ops"));
    EXPECT_EQ(o.gsmPin, QStringLiteral("4321"));
    const DialerOptions none = DialerOptions::fromIni(dir.filePath(QStringLiteral("none.ini")));
    EXPECT_EQ(none.snppMessMax, 128);
    EXPECT_EQ(none.wctpOriginator, QStringLiteral("vantrel"));
}

TEST(SnppWire, RepliesAndDataBodies) {
    QByteArray buf("214-first help line\r\n214 last\r\n250 Message OK\r\n25");
    SnppTransport::Reply r;
    ASSERT_TRUE(SnppTransport::takeReply(buf, r));
    EXPECT_EQ(r.code, 214);
    EXPECT_EQ(r.text, QByteArray("214 last"));
    ASSERT_TRUE(SnppTransport::takeReply(buf, r));
    EXPECT_EQ(r.code, 250);
    EXPECT_FALSE(SnppTransport::takeReply(buf, r));  // "25" is not a line yet
    buf += "0 ok\n";
    ASSERT_TRUE(SnppTransport::takeReply(buf, r));
    EXPECT_EQ(r.code, 250);

    EXPECT_EQ(SnppTransport::dataBody("one\n.two\n\nthree"),
              QByteArray("one\r\n..two\r\n\r\nthree\r\n.\r\n"));
    EXPECT_EQ(SnppTransport::messText("a\nb\tc"), QByteArray("a b c"));
}

TEST(SmsEncoding, NumbersAndPartBoundaries) {
    EXPECT_EQ(sms::phoneNumber(QStringLiteral("+49 (151) 123-45.67")), QByteArray("+491511234567"));
    EXPECT_FALSE(sms::phoneNumber(QStringLiteral("49+151")).has_value());
    EXPECT_FALSE(sms::phoneNumber(QStringLiteral("call me")).has_value());
    EXPECT_FALSE(sms::phoneNumber(QStringLiteral("+")).has_value());

    // An extension character takes two septets and is never cut in two.
    const QString braces = QString(152, u'x') + u'{';
    const auto parts = sms::encode("+491511", braces + QString(20, u'y'), 1);
    ASSERT_EQ(parts.size(), 2);
    QString error;
    EXPECT_EQ(sms::decode(parts[0].hex, &error)->text, QString(152, u'x'));
    EXPECT_TRUE(sms::decode(parts[1].hex, &error)->text.startsWith(u'{'));

    // UCS-2: 70 characters fit one message, 71 take two of at most 67.
    EXPECT_EQ(sms::encode("1", QString(70, u'\u0416'), 1).size(), 1);
    EXPECT_EQ(sms::encode("1", QString(71, u'\u0416'), 1).size(), 2);
    EXPECT_EQ(sms::encode("1", QString(134, u'\u0416'), 1).size(), 2);
    EXPECT_EQ(sms::encode("1", QString(135, u'\u0416'), 1).size(), 3);

    // Each part's length matches what AT+CMGS announces.
    for (const sms::Part& p : sms::encode("+4915112345678", QString(400, u'z'), 9)) {
        EXPECT_EQ(p.hex.size() / 2 - 1, p.tpduLength);
    }
    EXPECT_FALSE(sms::decode("0011", &error).has_value());
    EXPECT_FALSE(sms::decode("zz", &error).has_value());
}

TEST(TcpLine, RefusedAndUnresolvableAreReportedQuickly) {
    // A port that was just free: bound, never listened on, closed.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const quint16 port = ntohs(a.sin_port);
    ::close(fd);
    TcpLine line;
    QString error;
    EXPECT_FALSE(line.connect(QStringLiteral("127.0.0.1"), port, deadlineIn(5), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("refused"))) << error.toStdString();
    EXPECT_FALSE(line.connect(QStringLiteral("no-such-host.invalid"), 80, deadlineIn(5), &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace vts
