// calvex against pagesim's network and SMS endpoints: the same batch
// cases for every port kind beside the modem (paging terminal over TCP,
// SNPP, WCTP, GSM modem), each checked in the port file and in what the
// endpoint recorded.
#include "DialerRun.h"

#include <QFile>

namespace vts {
namespace {

using test::message;
using test::str;

struct Kind {
    const char* name;
    const char* option;    // pagesim's option for the port
    bool sevenBit;         // text is transliterated on the way
    const char* endpoint;  // as the records name it
    const char* silence;   // scenario word for an endpoint that never answers
    std::int16_t silentStatus;
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

class NetworkEndToEnd : public test::DialerRun, public ::testing::WithParamInterface<Kind> {
protected:
    void start(const QString& scenario = QString()) {
        startSim(scenario, QStringLiteral("1"), QString::fromLatin1(GetParam().option),
                 "[wctp]\noriginator=vantrel-test\n[gsm]\npin=1234\n");
    }
    // Pages of one batch; PINs are mobile numbers so the GSM modem takes them too.
    static PortRecord page(int slot, const QString& text,
                           const QString& pin = QStringLiteral("4915112345678")) {
        return message(slot, text, pin);
    }
};

TEST_P(NetworkEndToEnd, OnePage) {
    start();
    writePortFile({page(7, QStringLiteral("Hello World"))});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 1);
    EXPECT_EQ(str(p[0], "endpoint"), QString::fromLatin1(GetParam().endpoint));
    EXPECT_TRUE(str(p[0], "pin").endsWith(QStringLiteral("4915112345678")));
    EXPECT_EQ(str(p[0], "text"), QStringLiteral("Hello World"));
    EXPECT_TRUE(readFile(QStringLiteral("KRX1.log")).contains("status 2"));
    expectNoViolations();
}

TEST_P(NetworkEndToEnd, BatchOfFiveInOneConnection) {
    start();
    QList<PortRecord> recs;
    for (int i = 1; i <= 5; ++i) {
        recs << page(i * 3, QStringLiteral("Page number %1").arg(i));
    }
    writePortFile(recs);
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2, 2, 2, 2, 2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(str(p[i], "text"), QStringLiteral("Page number %1").arg(i + 1));
    }
    expectNoViolations();
    EXPECT_EQ(calls().size(), 1);
}

TEST_P(NetworkEndToEnd, LongMessageArrivesWhole) {
    start();
    QString text;
    for (int i = 0; text.size() < 420; ++i) {
        text += QStringLiteral("word%1 ").arg(i);
    }
    text = text.trimmed() + QStringLiteral("\r\nlast line");
    PortRecord r = page(1, text);
    r.maxCharactersPerBlock = 60;
    writePortFile({r});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 1);
    EXPECT_EQ(str(p[0], "text"),
              QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (QLatin1String(GetParam().endpoint) == QLatin1String("gsm")) {
        EXPECT_GE(p[0].value(QLatin1String("parts")).toInt(), 3);
    }
    expectNoViolations();
}

TEST_P(NetworkEndToEnd, NonAsciiText) {
    start();
    const QString text = QString::fromUtf8("Caf\u00e9 cr\u00e8me \u2013 5 \u20ac");
    writePortFile({page(1, text)});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
    ASSERT_EQ(pages().size(), 1);
    EXPECT_EQ(str(pages()[0], "text"),
              GetParam().sevenBit ? QStringLiteral("Cafe creme - 5 EUR") : text);
    if (QLatin1String(GetParam().endpoint) == QLatin1String("gsm")) {
        EXPECT_EQ(str(pages()[0], "coding"), QStringLiteral("ucs2"));  // the dash has no GSM form
    }
    expectNoViolations();
}

TEST_P(NetworkEndToEnd, RefusedPinFailsOnlyThatPage) {
    start(QStringLiteral("COM1 reject-page=4915100000000\n"));
    writePortFile({page(1, QStringLiteral("one")),
                   page(2, QStringLiteral("two"), QStringLiteral("4915100000000")),
                   page(3, QStringLiteral("three"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 3, 2});
    ASSERT_EQ(pages().size(), 2);
    EXPECT_EQ(str(pages()[1], "text"), QStringLiteral("three"));
}

TEST_P(NetworkEndToEnd, DroppedConnectionFailsThePagesNotConfirmed) {
    start(QStringLiteral("COM1 drop-after=2\n"));
    QList<PortRecord> recs;
    for (int i = 1; i <= 5; ++i) {
        recs << page(i, QStringLiteral("m%1").arg(i));
    }
    writePortFile(recs);
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 2, 3, 3, 3});
    EXPECT_EQ(pages().size(), 2);
}

TEST_P(NetworkEndToEnd, EndpointThatNeverAnswers) {
    start(QStringLiteral("COM1 %1\n").arg(QLatin1String(GetParam().silence)));
    PortRecord first = page(1, QStringLiteral("one"));
    first.timeout = 1;
    writePortFile({first, page(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 1);
    const std::int16_t s = GetParam().silentStatus;
    expectStatuses(s, {s, s});
    EXPECT_TRUE(pages().isEmpty());
}

TEST_P(NetworkEndToEnd, NumericPageTravelsAsItsDigits) {
    start();
    PortRecord numeric = page(1, QStringLiteral(" 555-0123 "));
    numeric.kind = 1;
    writePortFile({numeric, page(2, QStringLiteral("text after it"))});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2, 2});
    ASSERT_EQ(pages().size(), 2);
    EXPECT_EQ(str(pages()[0], "text"), QStringLiteral("5550123"));
    EXPECT_EQ(str(pages()[1], "text"), QStringLiteral("text after it"));
}

TEST_P(NetworkEndToEnd, StopSignalCancelsThePagesNotConfirmed) {
    start(QStringLiteral("COM1 hold-after=2\n"));
    QList<PortRecord> recs;
    for (int i = 1; i <= 5; ++i) {
        recs << page(i, QStringLiteral("m%1").arg(i));
    }
    recs[0].timeout = 30;
    writePortFile(recs);
    ASSERT_NO_FATAL_FAILURE(stopDialerAfter(2, 300));  // the third page is on its way
    expectStatuses(4, {2, 2, 4, 4, 4});
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetworkEndToEnd,
                         ::testing::Values(Kind{"TapOverTcp", "--tcp", true, "tcp", "silent", 3},
                                           Kind{"Snpp", "--snpp", true, "snpp", "silent", 3},
                                           Kind{"Wctp", "--wctp", false, "wctp", "silent", 3},
                                           Kind{"Gsm", "--gsm", false, "gsm", "dead", 5}),
                         [](const auto& info) { return std::string(info.param.name); });

class GsmEndToEnd : public test::DialerRun {};

TEST_F(GsmEndToEnd, SimPinIsEnteredOnceAndARefusalIsAModemError) {
    const struct {
        const char* name;
        const char* ini;
        std::int16_t status;
    } cases[] = {
        {"right PIN", "[gsm]\npin=1234\n", 2},
        {"wrong PIN", "[gsm]\npin=9999\n", 5},
        {"no PIN configured", "", 5},
    };
    for (const auto& c : cases) {
        startSim(QStringLiteral("COM1 sim-pin=1234\n"), QStringLiteral("1"),
                 QStringLiteral("--gsm"), c.ini);
        writePortFile({message(1, QStringLiteral("hi"), QStringLiteral("+4915112345678"))});
        runDialer();
        const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
        SCOPED_TRACE(std::string(c.name) + "\n" + trace.toStdString());
        expectStatuses(c.status, {c.status});
        EXPECT_LE(trace.count("-> AT+CPIN=\""), 1) << c.name;
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        QFile::remove(path(QStringLiteral("KRX1.log")));
        QFile::remove(path(QStringLiteral("pages.jsonl")));
    }
}

TEST_F(GsmEndToEnd, ModemErrorCodesAndReferencesAreTraced) {
    startSim(QStringLiteral("COM1 reject-page=4915100000000\n"), QStringLiteral("1"),
             QStringLiteral("--gsm"));
    writePortFile({message(1, QStringLiteral("ok"), QStringLiteral("+49 151 1234-5678")),
                   message(2, QStringLiteral("no"), QStringLiteral("4915100000000")),
                   message(3, QStringLiteral("bad"), QStringLiteral("call me"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 3, 3});
    const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
    EXPECT_TRUE(trace.contains("+CMGS: ")) << trace.constData();
    EXPECT_TRUE(trace.contains("+CMS ERROR 21")) << trace.constData();
    EXPECT_TRUE(trace.contains("not a mobile number")) << trace.constData();
    ASSERT_EQ(pages().size(), 1);
    EXPECT_EQ(str(pages()[0], "pin"), QStringLiteral("+4915112345678"));
}

}  // namespace
}  // namespace vts
