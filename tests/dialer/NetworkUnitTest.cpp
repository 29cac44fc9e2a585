// The port kinds' parsing and wire rules, without a peer.
#include <Dialer.h>
#include <PortKinds.h>
#include <SmppPdu.h>
#include <SmppTransport.h>
#include <SmsPdu.h>
#include <SmtpTransport.h>
#include <SnppTransport.h>
#include <TcpLine.h>
#include <Transport.h>

#include <algorithm>

#include <QDateTime>
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
        {"smtp:mail.example.org:587", true, K::Smtp, "mail.example.org", 587,
         "mail server at mail.example.org port 587"},
        {"smpp:smsc.example.org:2775", true, K::Smpp, "smsc.example.org", 2775,
         "SMS centre at smsc.example.org port 2775"},
        {"smpps:smsc.example.org:3550", true, K::Smpps, "smsc.example.org", 3550,
         "SMS centre at smsc.example.org port 3550 (TLS)"},
        {"smtp:mail.example.org", false, K::Smtp, "", 0, ""},
        {"smpp::2775", false, K::Smpp, "", 0, ""},
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
    f.write(
        "[snpp]\nmessmax=99999\n[wctp]\noriginator= ops \ncafile=/w.pem\n[gsm]\npin= 4321\n"
        "[smtp]\nto={phone}@sms.example.org\nstarttls=on\nuser=u\npassword= p w \n"
        "cafile=/s.pem\n[smpp]\nsystem_id=a-system-id-longer-than-16\nwindow=0\n"
        "registered_delivery=yes\ndest_ton=9\ncafile=/p.pem\n");
    f.close();
    const DialerOptions o = DialerOptions::fromIni(f.fileName());
    EXPECT_EQ(o.snppMessMax, 10000);
    EXPECT_EQ(o.wctpOriginator, QStringLiteral("ops"));
    EXPECT_EQ(o.gsmPin, QStringLiteral("4321"));
    // Each kind keeps its own TLS files; SMPP's fields are cut to their sizes.
    EXPECT_EQ(o.tls.caFile, QStringLiteral("/w.pem"));
    EXPECT_EQ(o.smtp.tls.caFile, QStringLiteral("/s.pem"));
    EXPECT_EQ(o.smpp.tls.caFile, QStringLiteral("/p.pem"));
    EXPECT_EQ(o.smtp.to, QStringLiteral("{phone}@sms.example.org"));
    EXPECT_TRUE(o.smtp.starttls);
    EXPECT_EQ(o.smtp.password, QStringLiteral("p w"));
    EXPECT_EQ(o.smpp.systemId, QStringLiteral("a-system-id-lon"));
    EXPECT_EQ(o.smpp.window, 1);
    EXPECT_TRUE(o.smpp.registeredDelivery);
    EXPECT_EQ(o.smpp.destTon, 6);
    const DialerOptions none = DialerOptions::fromIni(dir.filePath(QStringLiteral("none.ini")));
    EXPECT_EQ(none.snppMessMax, 128);
    EXPECT_EQ(none.wctpOriginator, QStringLiteral("vantrel"));
    EXPECT_EQ(none.smpp.window, 10);
    EXPECT_FALSE(none.smpp.registeredDelivery);
    EXPECT_FALSE(none.smtp.starttls);
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

namespace vts {
namespace {

// Mail addresses from [smtp] to: a PIN or phone number that would make
// more or less than one plain address is refused.
TEST(MailAddress, PatternsAndRefusals) {
    const struct {
        const char* pattern;
        const char* pin;
        const char* expected;  // empty: refused
    } cases[] = {
        {"{pin}@pager.example.org", "1234567", "1234567@pager.example.org"},
        {"{PIN}@pager.example.org", " 1234567 ", "1234567@pager.example.org"},
        {"page+{pin}@example.org", "ward7", "page+ward7@example.org"},
        {"{phone}@sms.example.org", "x", "555-1000@sms.example.org"},
        {"{pin}@pager.example.org", "a@b", ""},
        {"{pin}@pager.example.org", "12 34", ""},
        {"{pin}@pager.example.org", "1234>,evil@x.org", ""},
        {"{pin}@pager.example.org", "12\r\nRCPT", ""},
        {"{pin}@pager.example.org", "", ""},
        {"{pin}", "1234567", ""},
        {"{pin}@", "1234567", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SmtpTransport::address(QString::fromLatin1(c.pattern), QString::fromLatin1(c.pin),
                                         QStringLiteral("555-1000")),
                  QString::fromLatin1(c.expected))
            << c.pattern << " " << c.pin;
    }
    const QString long_ = QString(250, u'1');
    EXPECT_TRUE(SmtpTransport::address(QStringLiteral("{pin}@x.org"), long_, {}).isEmpty());
}

TEST(MailCompose, PlainAndEncodedBodies) {
    SmtpTransport::Mail m{
        QStringLiteral("a@example.org"),    QStringLiteral("b@example.org"),
        QString::fromUtf8("Page f\u00fcr"), QStringLiteral("one\ntwo"),
        QStringLiteral("1.2@example.org"),  QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC)};
    const QByteArray plain = SmtpTransport::compose(m);
    EXPECT_TRUE(plain.contains("Subject: =?UTF-8?B?UGFnZSBmw7xy?=\r\n"));
    EXPECT_TRUE(plain.contains("Date: Fri, 02 Jan 2026 03:04:05 +0000\r\n"));
    EXPECT_TRUE(plain.endsWith("\r\n\r\none\r\ntwo\r\n"));
    m.text = QString::fromUtf8("5 \u20ac");
    const QByteArray encoded = SmtpTransport::compose(m);
    EXPECT_TRUE(encoded.contains("Content-Transfer-Encoding: base64\r\n"));
    EXPECT_TRUE(
        encoded.endsWith("\r\n\r\n" + QString::fromUtf8("5 \u20ac").toUtf8().toBase64() + "\r\n"));
}

// What each submit_sm_resp status makes of the page.
TEST(SmppWire, VerdictsOfStatuses) {
    using smpp::Verdict;
    const struct {
        std::uint32_t status;
        Verdict verdict;
        const char* name;
    } cases[] = {
        {0x00, Verdict::Sent, "ESME_ROK"},
        {0x58, Verdict::Temporary, "ESME_RTHROTTLED"},
        {0x14, Verdict::Temporary, "ESME_RMSGQFUL"},
        {0x08, Verdict::Temporary, "ESME_RSYSERR"},
        {0x45, Verdict::Temporary, "ESME_RSUBMITFAIL"},
        {0x64, Verdict::Temporary, "ESME_RX_T_APPN"},
        {0x0B, Verdict::Final, "ESME_RINVDSTADR"},
        {0x50, Verdict::Final, "ESME_RINVDSTTON"},
        {0x51, Verdict::Final, "ESME_RINVDSTNPI"},
        {0x01, Verdict::Final, "ESME_RINVMSGLEN"},
        {0x65, Verdict::Final, "ESME_RX_P_APPN"},
        {0x66, Verdict::Final, "ESME_RX_R_APPN"},
        {0x400, Verdict::Temporary, "status 0x00000400"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(smpp::judge(c.status), c.verdict) << c.name;
        EXPECT_EQ(smpp::statusName(c.status), QString::fromLatin1(c.name));
    }
}

// PDUs cut at any point wait for the rest; impossible lengths and fields
// running past their PDU are refused; receipts read from their TLVs or text.
TEST(SmppWire, FramingAndReceipts) {
    smpp::ShortMessage m;
    m.destination = "4915112345678";
    m.message = "Hello";
    const QByteArray whole =
        smpp::encode({smpp::SubmitSm, 0, 7, smpp::shortMessageBody(m)}) + "\0\0";
    for (qsizetype cut = 0; cut < whole.size() - 2; ++cut) {
        QByteArray part = whole.left(cut);
        smpp::Pdu pdu;
        EXPECT_EQ(smpp::take(part, pdu), smpp::Take::Incomplete) << cut;
    }
    QByteArray buffer = whole;
    smpp::Pdu pdu;
    ASSERT_EQ(smpp::take(buffer, pdu), smpp::Take::Whole);
    EXPECT_EQ(pdu.sequence, 7U);
    const auto back = smpp::readShortMessage(pdu.body);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->destination, QByteArray("4915112345678"));
    EXPECT_EQ(back->message, QByteArray("Hello"));
    EXPECT_FALSE(smpp::readShortMessage(pdu.body.left(pdu.body.size() - 2)).has_value());
    for (const QByteArray& bad :
         {QByteArray::fromHex("0000000f"), QByteArray::fromHex("00100001")}) {
        QByteArray b = bad + QByteArray(16, '\0');
        EXPECT_EQ(smpp::take(b, pdu), smpp::Take::Malformed) << bad.toHex().constData();
    }

    const struct {
        const char* name;
        int esmClass;
        QByteArray text;
        QList<QPair<std::uint16_t, QByteArray>> tlvs;
        const char* id;  // empty: not a receipt
        const char* state;
        const char* error;
    } receipts[] = {
        {"text",
         0x04,
         "id:abc123 sub:001 dlvrd:001 submit date:2601010000 done date:2601010001 "
         "stat:DELIVRD err:000 text:hello",
         {},
         "abc123",
         "DELIVRD",
         "000"},
        {"lower-case keys",
         0x04,
         "ID:x1 SUB:001 DLVRD:000 STAT:undeliv ERR:034",
         {},
         "x1",
         "UNDELIV",
         "034"},
        {"TLVs first",
         0x04,
         "id:old stat:ENROUTE",
         {{0x001E, QByteArray("new\0", 4)},
          {0x0427, QByteArray(1, '\x05')},
          {0x0423, QByteArray::fromHex("030022")}},
         "new",
         "UNDELIV",
         "34"},
        {"a text message, not a receipt", 0x00, "id:1 stat:DELIVRD", {}, "", "", ""},
        {"no state", 0x04, "id:1 sub:001", {}, "", "", ""},
    };
    for (const auto& r : receipts) {
        smpp::ShortMessage d;
        d.esmClass = r.esmClass;
        d.message = r.text;
        d.tlvs = r.tlvs;
        const auto parsed = smpp::readShortMessage(smpp::shortMessageBody(d));
        ASSERT_TRUE(parsed.has_value()) << r.name;
        const auto receipt = smpp::readReceipt(*parsed);
        ASSERT_EQ(receipt.has_value(), *r.id != 0) << r.name;
        if (receipt) {
            EXPECT_EQ(receipt->messageId, QByteArray(r.id)) << r.name;
            EXPECT_EQ(receipt->state, QLatin1String(r.state)) << r.name;
            EXPECT_EQ(receipt->error, QLatin1String(r.error)) << r.name;
        }
    }
}

TEST(SmppWire, DestinationsOfPins) {
    const struct {
        const char* pin;
        const char* digits;  // empty: refused
        int ton, npi;
    } cases[] = {
        {"+49 (151) 123-45.67", "491511234567", 1, 1},
        {"01511234567", "01511234567", 2, 3},
        {"49+151", "", 0, 0},
        {"ward7", "", 0, 0},
        {"123456789012345678901", "", 0, 0},
    };
    for (const auto& c : cases) {
        const auto a = SmppTransport::destination(QString::fromLatin1(c.pin), 2, 3);
        ASSERT_EQ(a.has_value(), *c.digits != 0) << c.pin;
        if (a) {
            EXPECT_EQ(a->digits, QByteArray(c.digits));
            EXPECT_EQ(a->ton, c.ton);
            EXPECT_EQ(a->npi, c.npi);
        }
    }
}

}  // namespace
}  // namespace vts
