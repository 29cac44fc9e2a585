// The network and SMS transports checked against peers no one here wrote:
// Debian's Net::SNPP::Server as the SNPP server, Debian's Device::Gsm::Pdu
// decoding the PDUs the GSM transport builds, and WCTP confirmations as the
// WCTP 1.3 DTD shapes them.
#include "DialerRun.h"

#include <CauseFile.h>
#include <SmsPdu.h>
#include <WctpTransport.h>

#include <QJsonArray>
#include <QXmlStreamReader>

namespace vts {
namespace {

using test::message;
using test::str;

const QString kPeers = QStringLiteral(DIALER_PEERS_DIR);

bool perlHas(const char* module) {
    QProcess p;
    p.start(QStringLiteral("perl"),
            {QStringLiteral("-M%1").arg(QLatin1String(module)), QStringLiteral("-e1")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class SnppPeer : public test::DialerRun {
protected:
    void SetUp() override {
        test::DialerRun::SetUp();
        if (!perlHas("Net::SNPP::Server")) {
            GTEST_SKIP() << "Net::SNPP::Server is not installed (Debian: libnet-snpp-perl)";
        }
    }
    void TearDown() override {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
        test::DialerRun::TearDown();
    }
    void startServer(int dropAfter = -1) {
        QStringList args{kPeers + QStringLiteral("/snpp_server.pl"),
                         path(QStringLiteral("pages.jsonl"))};
        if (dropAfter >= 0) {
            args << QString::number(dropAfter);
        }
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral("perl"), args);
        ASSERT_TRUE(m_server.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n')) {
            ASSERT_TRUE(m_server.waitForReadyRead(10000)) << "the SNPP server did not start";
            out += m_server.readAllStandardOutput();
        }
        const QByteArray port = out.trimmed().mid(5);
        writeFile(QStringLiteral("calvex.ini"), "[ports]\nCOM1=snpp:127.0.0.1:" + port + "\n");
    }
    QProcess m_server;
};

TEST_F(SnppPeer, OnePageAndABatchOfFive) {
    startServer();
    QList<PortRecord> recs;
    for (int i = 1; i <= 5; ++i) {
        recs << message(i, QStringLiteral("Page %1 of five").arg(i));
    }
    writePortFile(recs);
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2, 2, 2, 2, 2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(str(p[i], "pin"), QStringLiteral("1234567"));
        EXPECT_EQ(str(p[i], "text"), QStringLiteral("Page %1 of five").arg(i + 1));
    }
    // One connection: one greeting in the trace.
    EXPECT_EQ(readFile(QStringLiteral("KRX1.log")).count("220 SNPP Gateway Ready"), 1);
}

TEST_F(SnppPeer, LongAndNonAsciiTextGoByData) {
    startServer();
    QString longText;
    for (int i = 0; longText.size() < 300; ++i) {
        longText += QStringLiteral("word%1 ").arg(i);
    }
    longText = longText.trimmed();
    writePortFile({message(1, longText + QStringLiteral("\r\nsecond line")),
                   message(2, QString::fromUtf8("Gr\u00fc\u00dfe aus K\u00f6ln \u2013 5 \u20ac"))});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2, 2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 2);
    // The server keeps DATA's line breaks and ends the text with one.
    EXPECT_EQ(str(p[0], "text"), longText + QStringLiteral("\nsecond line\n"));
    EXPECT_EQ(str(p[1], "text"), QStringLiteral("Grusse aus Koln - 5 EUR"));
    EXPECT_TRUE(readFile(QStringLiteral("KRX1.log")).contains("-> DATA<CR><LF>"));
}

TEST_F(SnppPeer, RefusedPinAndDroppedConnection) {
    startServer(2);
    // The server's default check takes pager IDs of at least 7 digits.
    writePortFile({message(1, QStringLiteral("one")),
                   message(2, QStringLiteral("short"), QStringLiteral("12345")),
                   message(3, QStringLiteral("two")), message(4, QStringLiteral("three")),
                   message(5, QStringLiteral("four"))});
    EXPECT_EQ(runDialer(), 1) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(3, {2, 3, 2, 3, 3});
    EXPECT_EQ(pages().size(), 2);
    EXPECT_TRUE(readFile(QStringLiteral("KRX1.log")).contains("550 Error, Invalid Pager ID"));
}

// Debian's server refusing: 550 to PAGE and 554 to SEND are final (each
// seen once), a dropped connection is not; only pages with their own 250
// to SEND count as sent.
TEST_F(SnppPeer, RefusalsAreFinalAndADropIsNot) {
    qputenv("SNPP_REFUSE", "7654321");
    startServer(2);
    qunsetenv("SNPP_REFUSE");
    writePortFile({message(1, QStringLiteral("one")),
                   message(2, QStringLiteral("short"), QStringLiteral("12345")),
                   message(3, QStringLiteral("refused at SEND"), QStringLiteral("7654321")),
                   message(4, QStringLiteral("two")), message(5, QStringLiteral("three"))});
    EXPECT_EQ(runDialer(), 1) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(3, {2, 3, 3, 2, 3});
    const causefile::Causes causes = causefile::read(path(causefile::fileName(1)));
    EXPECT_EQ(causes.final, (QSet<int>{2, 3}));
    EXPECT_TRUE(causes.pages.value(3).contains(QLatin1String("554")));
    int refused = 0, accepted = 0;
    for (const QJsonObject& o : pages()) {
        (o.contains(QLatin1String("refused")) ? refused : accepted) += 1;
    }
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(accepted, 2);
    EXPECT_EQ(readFile(QStringLiteral("KRX1.log")).count("-> PAGE 12345<CR>"), 1);
}

// What Device::Gsm::Pdu reads out of the PDUs the transport builds.
QList<QJsonObject> decodeWithPerl(const QList<sms::Part>& parts) {
    QStringList args{kPeers + QStringLiteral("/pdu_decode.pl")};
    for (const sms::Part& p : parts) {
        args << QString::fromLatin1(p.hex);
    }
    QProcess perl;
    perl.start(QStringLiteral("perl"), args);
    EXPECT_TRUE(perl.waitForFinished(20000));
    QList<QJsonObject> out;
    for (const QByteArray& line : perl.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            out << QJsonDocument::fromJson(line).object();
        }
    }
    return out;
}

TEST(SmsPduPeer, IndependentDecoderReadsWhatWeEncode) {
    if (!perlHas("Device::Gsm::Pdu")) {
        GTEST_SKIP() << "Device::Gsm::Pdu is not installed (Debian: libdevice-gsm-perl)";
    }
    QString longGsm;
    for (int i = 0; longGsm.size() < 400; ++i) {
        longGsm += QStringLiteral("Z\u00fcrich [%1] ").arg(i);
    }
    QString longUcs2;
    for (int i = 0; longUcs2.size() < 200; ++i) {
        longUcs2 += QStringLiteral("cr\u00eape %1 ").arg(i);
    }
    const struct {
        const char* name;
        QByteArray number;
        QString text;
        const char* coding;
        int parts;
    } cases[] = {
        {"plain ASCII", "+4915112345678", QStringLiteral("Hello World"), "gsm7", 1},
        {"national number, odd digits", "0151123456", QStringLiteral("odd"), "gsm7", 1},
        {"GSM letters and extension table", "+4915112345678",
         QString::fromUtf8(
             "@\u00a3$\u00a5\u00e8\u00e9 \u00c4\u00d6\u00dc\u00a7 {x} [y] ~|^\\ \u20ac"),
         "gsm7", 1},
        {"exactly 160 septets", "+491511", QString(160, u'x'), "gsm7", 1},
        {"161 septets", "+491511", QString(161, u'x'), "gsm7", 2},
        {"long GSM text", "+491511", longGsm, "gsm7", 4},
        {"UCS-2", "+491511",
         QString::fromUtf8("cr\u00eape \u2013 \u041f\u0440\u0438\u0432\u0435\u0442"), "ucs2", 1},
        {"long UCS-2 text", "+491511", longUcs2, "ucs2", 4},
    };
    for (const auto& c : cases) {
        sms::Coding coding{};
        const auto parts = sms::encode(c.number, c.text, 77, &coding);
        ASSERT_EQ(parts.size(), c.parts) << c.name;
        const auto decoded = decodeWithPerl(parts);
        ASSERT_EQ(decoded.size(), parts.size()) << c.name;
        QString joined;
        for (int i = 0; i < decoded.size(); ++i) {
            const QJsonObject& d = decoded[i];
            EXPECT_EQ(str(d, "number"), QString::fromLatin1(c.number)) << c.name;
            EXPECT_EQ(str(d, "coding"), QLatin1String(c.coding)) << c.name;
            if (parts.size() > 1) {
                EXPECT_EQ(d.value(QLatin1String("ref")).toInt(), 77) << c.name;
                EXPECT_EQ(d.value(QLatin1String("total")).toInt(), parts.size()) << c.name;
                EXPECT_EQ(d.value(QLatin1String("seq")).toInt(), i + 1) << c.name;
            }
            joined += str(d, "text");
        }
        // The decoder gives ISO 8859-1: the euro sign comes back as its 8859-15 code.
        QString expected = c.text;
        if (QLatin1String(c.coding) == QLatin1String("gsm7")) {
            expected.replace(u'\u20ac', u'\u00a4');
        }
        EXPECT_EQ(joined, expected) << c.name;
        // Our own decoder agrees.
        QString ours;
        for (const sms::Part& p : parts) {
            QString error;
            const auto d = sms::decode(p.hex, &error);
            ASSERT_TRUE(d.has_value()) << c.name << ": " << error.toStdString();
            ours += d->text;
        }
        EXPECT_EQ(ours, c.text) << c.name;
    }
}

// Confirmations as the WCTP 1.3 DTD shapes them, and replies that are not one.
TEST(WctpConfirmation, RepliesAreReadByStructure) {
    const char* prolog =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">\n";
    using K = WctpTransport::Confirmation::Kind;
    const struct {
        const char* name;
        QByteArray body;
        K kind;
        int code;
        const char* text;
    } cases[] = {
        {"success",
         QByteArray(prolog) + "<wctp-Operation wctpVersion=\"wctp-dtd-v1r3\"><wctp-Confirmation>"
                              "<wctp-Success successCode=\"200\" successText=\"Accepted\">Message "
                              "queued</wctp-Success>"
                              "</wctp-Confirmation></wctp-Operation>",
         K::Success, 200, "Accepted"},
        {"failure with code and text",
         QByteArray(prolog) +
             "<wctp-Operation wctpVersion=\"wctp-dtd-v1r3\">\n  <wctp-Confirmation>\n"
             "    <wctp-Failure errorCode=\"403\" errorText=\"Invalid recipientID\"/>\n"
             "  </wctp-Confirmation>\n</wctp-Operation>\n",
         K::Failure, 403, "Invalid recipientID"},
        {"failure text only in the content",
         "<wctp-Operation wctpVersion=\"wctp-dtd-v1r3\"><wctp-Confirmation>"
         "<wctp-Failure errorCode=\"604\">Internal &amp; temporary</wctp-Failure>"
         "</wctp-Confirmation></wctp-Operation>",
         K::Failure, 604, "Internal & temporary"},
        {"success word outside a confirmation",
         "<wctp-Operation><wctp-StatusInfo><wctp-Success successCode=\"200\"/></wctp-StatusInfo>"
         "</wctp-Operation>",
         K::Unreadable, 0, ""},
        {"another root element", "<html><body>wctp-Success</body></html>", K::Unreadable, 0, ""},
        {"broken XML", "<wctp-Operation><wctp-Confirmation><wctp-Success", K::Unreadable, 0, ""},
        {"empty body", "", K::Unreadable, 0, ""},
    };
    for (const auto& c : cases) {
        const auto r = WctpTransport::parseConfirmation(c.body);
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.text, QString::fromLatin1(c.text)) << c.name;
    }
}

TEST(WctpConfirmation, SubmitRequestEscapesAndKeepsUnicode) {
    WctpTransport::Submit s;
    s.senderId = QStringLiteral("vantrel");
    s.securityCode = QStringLiteral("pw<1>");
    s.messageId = QStringLiteral("1001-3");
    s.recipientId = QStringLiteral("5551234");
    s.text = QString::fromUtf8("a < b & \"c\"\nK\u00f6ln \u20ac");
    s.timestamp = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9), Qt::UTC);
    const QByteArray xml = WctpTransport::submitRequest(s);
    EXPECT_TRUE(xml.contains("<!DOCTYPE wctp-Operation SYSTEM")) << xml.constData();
    EXPECT_TRUE(xml.contains("submitTimestamp=\"2026-12-07T14:05:09\""));
    EXPECT_TRUE(xml.contains("securityCode=\"pw&lt;1>\"") ||
                xml.contains("securityCode=\"pw&lt;1&gt;\""));
    QXmlStreamReader r(xml);
    QString text;
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement && r.name() == u"wctp-Alphanumeric") {
            text = r.readElementText();
        }
    }
    EXPECT_FALSE(r.hasError());
    EXPECT_EQ(text, s.text);
}

}  // namespace
}  // namespace vts
