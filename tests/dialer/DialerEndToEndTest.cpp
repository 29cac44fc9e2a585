// calvex against pagesim: each test writes a port file, runs the dialer in
// the test's working directory and checks the port file byte for byte and
// what the simulated terminal or endpoint recorded. The scenarios every
// port kind shares run once per kind (modem, paging terminal over TCP,
// SNPP, WCTP, GSM modem); the rest are the modem's or the GSM modem's own.
#include "DialerRun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace vts {
namespace {

using test::message;
using test::str;
constexpr int kStatusOffset = test::kStatusOffset;

class DialerEndToEnd : public test::DialerRun {};

TEST_F(DialerEndToEnd, PasswordIsSentInTheLogOn) {
    startSim(QStringLiteral("5551000 password=AB12CD\n5552000 password=ZZZZZZ\n"));
    PortRecord r = message(1, QStringLiteral("secret"));
    r.tapPassword = QStringLiteral("AB12CD");
    writePortFile({r});
    EXPECT_EQ(runDialer(), 0);
    expectStatuses(2, {2});
    EXPECT_EQ(pages().size(), 1);
}

TEST_F(DialerEndToEnd, WrongPasswordFailsTheBatch) {
    startSim(QStringLiteral("5551000 password=AB12CD\n"));
    PortRecord r = message(1, QStringLiteral("secret"));
    r.tapPassword = QStringLiteral("WRONG1");
    writePortFile({r, message(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {3, 3});
    EXPECT_TRUE(pages().isEmpty());
}

TEST_F(DialerEndToEnd, NumericPageDialsPausesAndDigits) {
    startSim();
    PortRecord r = message(4, QStringLiteral(" 555-0123 "));
    r.kind = PageKind::Numeric;
    r.delay = 6;
    writePortFile({r});
    EXPECT_EQ(runDialer(), 0);
    expectStatuses(2, {2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 1);
    EXPECT_EQ(str(p[0], "kind"), QStringLiteral("numeric"));
    EXPECT_EQ(str(p[0], "text"), QStringLiteral("5550123"));
    EXPECT_EQ(p[0].value(QLatin1String("pause_seconds")).toInt(), 6);
    EXPECT_TRUE(p[0].value(QLatin1String("terminated")).toBool());
    EXPECT_TRUE(calls().isEmpty());  // no carrier for a numeric page
}

TEST_F(DialerEndToEnd, TextFilePageAndMissingFileInOneBatch) {
    startSim();
    writeFile(QStringLiteral("notes/Alert.txt"),
              "Server room\r\ntemperature \xe9"
              "lev\xe9"
              "e\r\n\r\n");
    PortRecord file = message(1, QString());
    file.kind = PageKind::TextFile;
    file.asciiFilename = QStringLiteral("notes\\Alert.txt");
    PortRecord missing = message(2, QString());
    missing.kind = PageKind::TextFile;
    missing.asciiFilename = QStringLiteral("notes/none.txt");
    writePortFile({file, missing, message(3, QStringLiteral("plain"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 3, 2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 2);
    EXPECT_EQ(str(p[0], "text"), QStringLiteral("Server room\ntemperature elevee"));
    EXPECT_EQ(str(p[1], "text"), QStringLiteral("plain"));
}

TEST_F(DialerEndToEnd, RejectionAfterLogOffFailsTheAcceptedPages) {
    startSim(QStringLiteral("* withdraw\n"));
    writePortFile({message(1, QStringLiteral("one")), message(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {3, 3});
    const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
    EXPECT_TRUE(trace.contains("<RS>")) << trace.constData();
    EXPECT_TRUE(trace.contains("after log-off (RS)")) << trace.constData();
}

TEST_F(DialerEndToEnd, RepeatedIdPromptBringsNoSecondLogOn) {
    startSim(QStringLiteral("* double-id\n"));
    writePortFile({message(1, QStringLiteral("one")), message(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 0);
    expectStatuses(2, {2, 2});
    EXPECT_EQ(readFile(QStringLiteral("KRX1.log")).count("-> <ESC>PG1<CR>"), 1);
    expectNoViolations();
}

// Outcomes decided before or at the dial: every message gets the status.
struct DialOutcome {
    const char* name;
    const char* scenario;
    std::int16_t status;
    std::int16_t timeout = 10;  // short only where the modem stays silent
};

void PrintTo(const DialOutcome& o, std::ostream* os) { *os << o.name; }

class DialerDialOutcome : public DialerEndToEnd,
                          public ::testing::WithParamInterface<DialOutcome> {};

TEST_P(DialerDialOutcome, FailsEveryMessage) {
    startSim(QString::fromLatin1(GetParam().scenario));
    PortRecord first = message(1, QStringLiteral("one"));
    first.timeout = GetParam().timeout;
    writePortFile({first, message(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 1);
    const std::int16_t s = GetParam().status;
    expectStatuses(s, {s, s});
    EXPECT_TRUE(pages().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, DialerDialOutcome,
                         ::testing::Values(DialOutcome{"Busy", "5551000 busy", 3},
                                           DialOutcome{"NoAnswer", "5551000 noanswer", 3},
                                           DialOutcome{"NoCarrier", "5551000 nocarrier", 3},
                                           DialOutcome{"NoDialtone", "5551000 nodialtone", 5},
                                           DialOutcome{"DialError", "5551000 error", 5},
                                           DialOutcome{"SilentAfterDial", "5551000 silent", 5, 1},
                                           DialOutcome{"RejectedLogOn", "5551000 reject-logon", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialerEndToEnd, NakedFirstBlockAndLineNoiseStillDeliver) {
    startSim(QStringLiteral("* nak-first garbled\n"));
    writePortFile({message(1, QStringLiteral("one")), message(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 0);
    expectStatuses(2, {2, 2});
    ASSERT_EQ(pages().size(), 2);
    EXPECT_EQ(str(pages()[0], "text"), QStringLiteral("one"));
    // The first block went out twice.
    EXPECT_EQ(readFile(QStringLiteral("KRX1.log")).count("-> <STX>1234567<CR>one<CR>"), 2);
}

TEST_F(DialerEndToEnd, KilledDialerReleasesTheSimulatedLine) {
    startSim(QStringLiteral("5551000 hold-after=1\n5552000 accept\n"));
    writePortFile({message(1, QStringLiteral("m1")), message(2, QStringLiteral("m2"))});
    QProcess dialer;
    ASSERT_EQ(runDialer(QStringLiteral(" 1"), &dialer), 0);
    for (int i = 0; i < 200 && pages().isEmpty(); ++i) {
        dialer.waitForFinished(50);
    }
    dialer.kill();
    dialer.waitForFinished(5000);
    awaitCalls();
    ASSERT_EQ(calls().size(), 1);
    EXPECT_EQ(str(calls()[0], "end"), QStringLiteral("line closed by the dialer"));
    // The modem is back in command mode for the next run.
    PortRecord again = message(3, QStringLiteral("m3"));
    again.phoneNumber = QStringLiteral("5552000");
    writePortFile({again});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
}

TEST_F(DialerEndToEnd, MixedKindsAndAStrayNumberInOneBatch) {
    startSim();
    PortRecord numeric = message(2, QStringLiteral("42"));
    numeric.kind = PageKind::Numeric;
    PortRecord stray = message(4, QStringLiteral("elsewhere"));
    stray.phoneNumber = QStringLiteral("5559999");
    writePortFile({message(1, QStringLiteral("alpha one")), numeric,
                   message(3, QStringLiteral("alpha two")), stray});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 2, 2, 3});
    const auto p = pages();
    ASSERT_EQ(p.size(), 3);
    EXPECT_EQ(str(p[0], "text"), QStringLiteral("alpha one"));
    EXPECT_EQ(str(p[1], "text"), QStringLiteral("alpha two"));
    EXPECT_EQ(str(p[2], "text"), QStringLiteral("42"));
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(DialerEndToEnd, TwoRunsOnOneComPortTakeTurns) {
    startSim();
    writePortFile({message(1, QStringLiteral("first"))}, 2);
    writePortFile({message(2, QStringLiteral("second"))}, 1);
    QProcess a, b;
    ASSERT_EQ(runDialer(QStringLiteral(" 1"), &a), 0);
    ASSERT_EQ(runDialer(QStringLiteral(" 2"), &b), 0);
    ASSERT_TRUE(a.waitForFinished(20000));
    ASSERT_TRUE(b.waitForFinished(20000));
    EXPECT_EQ(a.exitCode(), 0);
    EXPECT_EQ(b.exitCode(), 0);
    expectStatuses(2, {2});
    EXPECT_EQ(PortRecord::decode(readFile(portfile::fileName(2)).left(PortRecord::kSize))->status,
              2);
    EXPECT_EQ(pages().size(), 2);
    EXPECT_EQ(calls().size(), 2);
}

TEST_F(DialerEndToEnd, MissingDeviceIsAModemError) {
    writeFile(QStringLiteral("calvex.ini"), "[ports]\nCOM1=/nonexistent/ttyX\n");
    writePortFile({message(1, QStringLiteral("one"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(5, {5});
}

TEST_F(DialerEndToEnd, LeadingBlanksAndSecondPortIndex) {
    startSim(QString(), QStringLiteral("1,2"));
    PortRecord r = message(1, QStringLiteral("via two"));
    r.comPort = 2;
    r.debugMode = 0;
    PortRecord header = r;
    header.index = 1;
    const QByteArray bytes = header.encode() + r.encode();
    writeFile(QStringLiteral("mordax3.dat"), bytes);
    EXPECT_EQ(runDialer(QStringLiteral("  3")), 0);
    const QByteArray after = readFile(QStringLiteral("mordax3.dat"));
    EXPECT_EQ(PortRecord::decode(after.left(PortRecord::kSize))->status, 2);
    EXPECT_EQ(PortRecord::decode(after.mid(PortRecord::kSize))->status, 2);
    ASSERT_EQ(pages().size(), 1);
    EXPECT_EQ(pages()[0].value(QLatin1String("port")).toInt(), 2);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("KRX3.log"))));
}

// Damaged port files: the dialer finishes the header and never dials.
TEST_F(DialerEndToEnd, ShortHeaderIsCompletedAsFailed) {
    writeFile(QStringLiteral("mordax1.dat"), QByteArray(100, 'x'));
    EXPECT_EQ(runDialer(), 1);
    const QByteArray after = readFile(QStringLiteral("mordax1.dat"));
    ASSERT_EQ(after.size(), PortRecord::kSize);
    const auto h = PortRecord::decode(after);
    EXPECT_EQ(h->status, 3);
    EXPECT_EQ(h->index, 0);
    EXPECT_EQ(after.left(100), QByteArray(100, 'x'));
}

TEST_F(DialerEndToEnd, CountBeyondTheRecordsFailsTheHeaderOnly) {
    writePortFile({message(1, QStringLiteral("one"))});
    QByteArray bytes = m_before;
    bytes[738] = 3;  // count 3, but one message record
    writeFile(QStringLiteral("mordax1.dat"), bytes);
    m_before = bytes;
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {1});
}

TEST_F(DialerEndToEnd, IdleOrMissingPortFileIsLeftAlone) {
    EXPECT_EQ(runDialer(), 2);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("mordax1.dat"))));
    writePortFile({message(1, QStringLiteral("one"))});
    m_before[kStatusOffset] = 0;
    writeFile(QStringLiteral("mordax1.dat"), m_before);
    EXPECT_EQ(runDialer(), 2);
    EXPECT_EQ(readFile(QStringLiteral("mordax1.dat")), m_before);
    EXPECT_EQ(runDialer(QStringLiteral("9")), 2);
}

// One row per port kind, for the scenarios every kind shares.
struct Kind {
    const char* name;
    const char* option;    // pagesim's option for the port
    const char* scope;     // scenario selector for the port's behaviour
    const char* pin;       // the pages' PIN; a mobile number where SMS needs one
    const char* refused;   // a PIN the scenario has the terminal refuse
    bool sevenBit;         // text is transliterated on the way
    const char* endpoint;  // as the records name it (the modem's name none)
    const char* silence;   // scenario word for a port that never answers
    std::int16_t silentStatus;
    int stopMs;  // how long the third page is on its way before the stop signal

    bool modem() const { return QLatin1String(option) == QLatin1String("--ports"); }
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

const Kind kModem{"Modem", "--ports", "*", "5551234", "999", true, "", "dead", 5, 200};
const Kind kNetworkKinds[] = {
    {"TapOverTcp", "--tcp", "COM1", "4915112345678", "4915100000000", true, "tcp", "silent", 3,
     300},
    {"Snpp", "--snpp", "COM1", "4915112345678", "4915100000000", true, "snpp", "silent", 3, 300},
    {"Wctp", "--wctp", "COM1", "4915112345678", "4915100000000", false, "wctp", "silent", 3, 300},
    {"Gsm", "--gsm", "COM1", "4915112345678", "4915100000000", false, "gsm", "dead", 5, 300},
};

class PortKindEndToEnd : public test::DialerRun, public ::testing::WithParamInterface<Kind> {
protected:
    // Starts the simulator with `behaviour` for the port, if any.
    void start(const QString& behaviour = QString()) {
        startSim(behaviour.isEmpty()
                     ? QString()
                     : QStringLiteral("%1 %2\n").arg(QLatin1String(GetParam().scope), behaviour),
                 QStringLiteral("1"), QString::fromLatin1(GetParam().option),
                 "[wctp]\noriginator=vantrel-test\n[gsm]\npin=1234\n");
    }
    static PortRecord page(int slot, const QString& text) {
        return message(slot, text, QString::fromLatin1(GetParam().pin));
    }
    static QList<PortRecord> fivePages(const char* format) {
        QList<PortRecord> recs;
        for (int i = 1; i <= 5; ++i) {
            recs << page(i, QString::fromLatin1(format).arg(i));
        }
        return recs;
    }
};

// Scenarios with no modem counterpart: the network and SMS kinds only.
class NetworkEndToEnd : public PortKindEndToEnd {};

TEST_P(PortKindEndToEnd, OnePage) {
    start();
    writePortFile({page(7, QStringLiteral("Hello World"))});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
    const auto p = pages();
    ASSERT_EQ(p.size(), 1);
    EXPECT_EQ(str(p[0], "endpoint"), QString::fromLatin1(GetParam().endpoint));
    EXPECT_TRUE(str(p[0], "pin").endsWith(QString::fromLatin1(GetParam().pin)));
    EXPECT_EQ(str(p[0], "text"), QStringLiteral("Hello World"));
    const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
    EXPECT_TRUE(trace.contains("status 2"));
    if (GetParam().modem()) {
        EXPECT_EQ(str(p[0], "number"), QStringLiteral("5551000"));
        EXPECT_EQ(str(p[0], "pin"), QStringLiteral("5551234"));
        EXPECT_TRUE(trace.contains("<STX>5551234<CR>Hello World<CR><ETX>5:4<CR>"))
            << trace.constData();
        EXPECT_TRUE(trace.contains("<ESC>PG1<CR>"));
    }
    expectNoViolations();
}

TEST_P(PortKindEndToEnd, BatchOfFiveInOneCall) {
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
    const auto c = calls();
    ASSERT_EQ(c.size(), 1);
    if (GetParam().modem()) {
        EXPECT_EQ(c[0].value(QLatin1String("logons")).toInt(), 1);
        EXPECT_EQ(str(c[0], "end"), QStringLiteral("logged off"));
    }
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("KRX2.log"))));
}

TEST_P(PortKindEndToEnd, LongMessageArrivesWhole) {
    start(QStringLiteral("max-block=60"));
    QString text;
    for (int i = 0; text.size() < 480; ++i) {
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
    if (GetParam().modem()) {
        EXPECT_GE(readFile(QStringLiteral("KRX1.log")).count("<US>"), 7);
    }
    if (QLatin1String(GetParam().endpoint) == QLatin1String("gsm")) {
        EXPECT_GE(p[0].value(QLatin1String("parts")).toInt(), 3);
    }
    expectNoViolations();
}

TEST_P(PortKindEndToEnd, NonAsciiText) {
    start();
    const QString text =
        QString::fromUtf8("Caf\u00e9 \u201eSt\u00fcbli\u201c \u2013 Gr\u00fc\u00dfe \u20ac5");
    writePortFile({page(1, text)});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2});
    ASSERT_EQ(pages().size(), 1);
    EXPECT_EQ(str(pages()[0], "text"),
              GetParam().sevenBit ? QStringLiteral("Cafe \"Stubli\" - Grusse EUR5") : text);
    if (QLatin1String(GetParam().endpoint) == QLatin1String("gsm")) {
        EXPECT_EQ(str(pages()[0], "coding"), QStringLiteral("ucs2"));  // the dash has no GSM form
    }
    expectNoViolations();
}

TEST_P(PortKindEndToEnd, RefusedPinFailsOnlyThatPage) {
    const QString refused = QString::fromLatin1(GetParam().refused);
    start(QStringLiteral("reject-page=") + refused);
    PortRecord second = page(2, QStringLiteral("two"));
    second.pin = refused;
    writePortFile({page(1, QStringLiteral("one")), second, page(3, QStringLiteral("three"))});
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 3, 2});
    ASSERT_EQ(pages().size(), 2);
    EXPECT_EQ(str(pages()[1], "text"), QStringLiteral("three"));
}

TEST_P(PortKindEndToEnd, DroppedConnectionKeepsTheAcceptedPages) {
    start(QStringLiteral("drop-after=2"));
    writePortFile(fivePages("m%1"));
    EXPECT_EQ(runDialer(), 1);
    expectStatuses(3, {2, 2, 3, 3, 3});
    EXPECT_EQ(pages().size(), 2);
}

TEST_P(PortKindEndToEnd, PortThatNeverAnswers) {
    startSim(QStringLiteral("COM1 %1\n").arg(QLatin1String(GetParam().silence)),
             QStringLiteral("1"), QString::fromLatin1(GetParam().option));
    PortRecord first = page(1, QStringLiteral("one"));
    first.timeout = 1;
    writePortFile({first, page(2, QStringLiteral("two"))});
    EXPECT_EQ(runDialer(), 1);
    const std::int16_t s = GetParam().silentStatus;
    expectStatuses(s, {s, s});
    EXPECT_TRUE(pages().isEmpty());
}

TEST_P(PortKindEndToEnd, StopSignalCancelsThePagesNotConfirmed) {
    start(QStringLiteral("hold-after=2"));
    writeFile(QStringLiteral("calvex.ini"),
              readFile(QStringLiteral("calvex.ini")).replace("t3=5", "t3=20"));
    QList<PortRecord> recs = fivePages("m%1");
    recs[0].timeout = 30;
    writePortFile(recs);
    ASSERT_NO_FATAL_FAILURE(stopDialerAfter(2, GetParam().stopMs));  // the third is on its way
    expectStatuses(4, {2, 2, 4, 4, 4});
    if (GetParam().modem()) {
        awaitCalls();
        ASSERT_EQ(calls().size(), 1);
        EXPECT_EQ(str(calls()[0], "end"), QStringLiteral("hung up by the dialer"));
    }
}

TEST_P(NetworkEndToEnd, NumericPageTravelsAsItsDigits) {
    start();
    PortRecord numeric = page(1, QStringLiteral(" 555-0123 "));
    numeric.kind = PageKind::Numeric;
    writePortFile({numeric, page(2, QStringLiteral("text after it"))});
    EXPECT_EQ(runDialer(), 0) << readFile(QStringLiteral("KRX1.log")).constData();
    expectStatuses(2, {2, 2});
    ASSERT_EQ(pages().size(), 2);
    EXPECT_EQ(str(pages()[0], "text"), QStringLiteral("5550123"));
    EXPECT_EQ(str(pages()[1], "text"), QStringLiteral("text after it"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PortKindEndToEnd,
                         ::testing::Values(kModem, kNetworkKinds[0], kNetworkKinds[1],
                                           kNetworkKinds[2], kNetworkKinds[3]),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Kinds, NetworkEndToEnd, ::testing::ValuesIn(kNetworkKinds),
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
