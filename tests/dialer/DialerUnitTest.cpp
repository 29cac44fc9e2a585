// The dialer's input checks and reply parsing, without a line.
#include <Dialer.h>
#include <HayesModem.h>
#include <IniFile.h>
#include <LineSettings.h>
#include <Scenario.h>
#include <TapClient.h>

#include <gtest/gtest.h>

#include "Wire.h"

namespace vts {
namespace {

using test::wire;

TEST(DialerLineSettings, ParsesTheUsualForms) {
    const struct {
        const char* text;
        bool ok;
        const char* normal;
    } cases[] = {
        {"", true, "1200,E,7,1,X"},
        {"1200,E,7,1", true, "1200,E,7,1,X"},
        {" 2400 , n , 8 , 1 ", true, "2400,N,8,1,X"},
        {"9600,N", true, "9600,N,8,1,X"},
        {"300,O,7,2,N", true, "300,O,7,2,N"},
        {"19200,e,7,1,r", true, "19200,E,7,1,R"},
        {"1201,E,7,1", false, ""},
        {"1200,X,7,1", false, ""},
        {"1200,E,9,1", false, ""},
        {"1200,E,7,3", false, ""},
        {"fast", false, ""},
        {"1200,E,7,1,X,extra", false, ""},
    };
    for (const auto& c : cases) {
        const auto s = LineSettings::parse(QString::fromLatin1(c.text));
        ASSERT_EQ(s.has_value(), c.ok) << c.text;
        if (s) {
            EXPECT_EQ(s->toString(), QString::fromLatin1(c.normal)) << c.text;
        }
    }
}

TEST(DialerIniFile, SectionsKeysAndRewrite) {
    IniFile ini = IniFile::parse(
        QStringLiteral("; comment\n[Ports]\ncom3 = /dev/ttyUSB0\n\n[tap]\nt1=0.5\nt3=x\n"));
    EXPECT_EQ(ini.value(QStringLiteral("ports"), QStringLiteral("COM3")),
              QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(ini.value(QStringLiteral("ports"), QStringLiteral("COM4")).has_value());
    EXPECT_DOUBLE_EQ(ini.number(QStringLiteral("TAP"), QStringLiteral("t1"), 2), 0.5);
    EXPECT_DOUBLE_EQ(ini.number(QStringLiteral("tap"), QStringLiteral("t3"), 10), 10);
    ini.setSection(QStringLiteral("ports"),
                   {{QStringLiteral("COM1"), QStringLiteral("/tmp/COM1")}});
    const IniFile again = IniFile::parse(ini.toText());
    EXPECT_FALSE(again.value(QStringLiteral("ports"), QStringLiteral("COM3")).has_value());
    EXPECT_EQ(again.value(QStringLiteral("ports"), QStringLiteral("COM1")),
              QStringLiteral("/tmp/COM1"));
    EXPECT_EQ(again.value(QStringLiteral("tap"), QStringLiteral("t1")), QStringLiteral("0.5"));
}

TEST(DialerOptions, DevicesFromIniElseSerialPorts) {
    DialerOptions o;
    o.ports = {{3, QStringLiteral("/dev/ttyUSB0")}};
    EXPECT_EQ(o.devicePath(3), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(o.devicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(o.devicePath(9), QStringLiteral("/dev/ttyS8"));
}

TEST(DialerInput, PhoneNumbersThatMayBeDialled) {
    const struct {
        const char* in;
        const char* out;  // nullptr: refused
    } cases[] = {
        {"555-1234", "5551234"},    {"(0800) 123.456", "0800123456"},
        {"9,5551234", "9,5551234"}, {"w5551234", "W5551234"},
        {"*70#", "*70#"},           {"5551234;ATH", nullptr},
        {"555\r1234", nullptr},     {"", nullptr},
        {"  -  ", nullptr},         {"555 ATZ", nullptr},
    };
    for (const auto& c : cases) {
        const auto n = Dialer::dialableNumber(QString::fromLatin1(c.in));
        EXPECT_EQ(n.value_or("<refused>"), QByteArray(c.out ? c.out : "<refused>")) << c.in;
    }
}

TEST(DialerInput, NumericDigitsAndText) {
    EXPECT_EQ(Dialer::numericDigits(QStringLiteral("555-0123")), QByteArray("5550123"));
    EXPECT_EQ(Dialer::numericDigits(QStringLiteral("*911")), QByteArray("*911"));
    EXPECT_EQ(Dialer::numericDigits(QStringLiteral("12;ATH")), QByteArray());
    EXPECT_EQ(Dialer::numericDigits(QStringLiteral("call me")), QByteArray());
    EXPECT_EQ(Dialer::prepareText(QStringLiteral("a\r\nb\rc\n  \r\n   ")), wire("a<LF>b<LF>c"));
    EXPECT_EQ(Dialer::prepareText(QStringLiteral("  lead kept, trail cut   ")),
              QByteArray("  lead kept, trail cut"));
}

TEST(DialerInput, TextFilesAreBoundedRegularFiles) {
    QString why;
    EXPECT_FALSE(Dialer::readTextFile(QStringLiteral("/nonexistent/file.txt"), &why).has_value());
    EXPECT_FALSE(Dialer::readTextFile(QStringLiteral("/dev/null"), &why).has_value());
    EXPECT_TRUE(why.contains(QStringLiteral("regular")));
    EXPECT_FALSE(Dialer::readTextFile(QStringLiteral("/tmp"), &why).has_value());
}

TEST(TapReplies, EventsFromTerminalBytes) {
    using E = TapClient::Event;
    const struct {
        const char* name;
        QByteArray bytes;
        QList<E> events;
        int messages;
    } cases[] = {
        {"sample log-on reply",
         wire("110 1.7<CR>Welcome to the paging service<CR><ACK><CR><ESC>[p<CR>"),
         {E::Ack, E::GoAhead},
         1},
        {"bare ID=", QByteArray("ID="), {E::Id}, 0},
        {"ID= after a banner", wire("Welcome<CR><LF>ID="), {E::Id}, 0},
        {"page accepted", wire("211 Page accepted <CR><ACK><CR>"), {E::Ack}, 1},
        {"ACK without leading CR", wire("211 ok<ACK><CR>"), {E::Ack}, 1},
        {"NAK", wire("514 Checksum error<CR><NAK><CR>"), {E::Nak}, 1},
        {"RS", wire("<CR><RS><CR>"), {E::Rs}, 0},
        {"forced disconnect", wire("115 Bye<CR><ESC><EOT><CR>"), {E::Disconnect}, 1},
        {"carrier lost", wire("<CR><LF>NO CARRIER<CR><LF>"), {E::CarrierLost}, 0},
        {"noise is skipped", wire("~~#$%<CR><LF><0x7f><ACK>"), {E::Ack}, 0},
        {"ESC split over two reads stays", wire("<ESC>"), {}, 0},
    };
    for (const auto& c : cases) {
        QByteArray buf = c.bytes, line;
        QList<QByteArray> messages;
        QList<E> got;
        E e;
        while (TapClient::nextEvent(buf, line, e, messages)) {
            got << e;
        }
        EXPECT_EQ(got, c.events) << c.name;
        EXPECT_EQ(messages.size(), c.messages) << c.name;
    }
    QByteArray buf = wire("<ESC>"), line;
    QList<QByteArray> messages;
    E e;
    EXPECT_FALSE(TapClient::nextEvent(buf, line, e, messages));
    buf += wire("<EOT><CR>");
    ASSERT_TRUE(TapClient::nextEvent(buf, line, e, messages));
    EXPECT_EQ(e, E::Disconnect);
}

TEST(DialerModemReplies, Classification) {
    using R = HayesModem::Result;
    const struct {
        const char* line;
        std::optional<R> result;
    } cases[] = {
        {"OK", R::Ok},
        {"0", R::Ok},
        {"CONNECT", R::Connect},
        {"CONNECT 1200/REL", R::Connect},
        {"10", R::Connect},
        {"RING", R::Ring},
        {"NO CARRIER", R::NoCarrier},
        {"3", R::NoCarrier},
        {"ERROR", R::Error},
        {"NO DIALTONE", R::NoDialtone},
        {"NO DIAL TONE", R::NoDialtone},
        {"BUSY", R::Busy},
        {"7", R::Busy},
        {"NO ANSWER", R::NoAnswer},
        {"CARRIER 1200", std::nullopt},
        {"PROTOCOL: NONE", std::nullopt},
        {"ATZ", std::nullopt},
        {"15", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HayesModem::classify(QByteArray(c.line)), c.result) << c.line;
    }
}

TEST(PagesimScenario, SelectorsAndErrors) {
    QString error;
    const auto s = sim::Scenario::parse(
        QStringLiteral("# test\n555-1000 busy\nCOM2 dead\n* password=ABC123 max-block=80 "
                       "drop-after=2\n5552000 reject-page=99 slow\n"),
        &error);
    ASSERT_TRUE(s.has_value()) << error.toStdString();
    EXPECT_EQ(s->forCall("5551000", 1).dial, sim::Behaviour::Dial::Busy);
    EXPECT_TRUE(s->forPort(2).dead);
    const auto other = s->forCall("5559999", 1);
    EXPECT_EQ(other.password, QByteArray("ABC123"));
    EXPECT_EQ(other.maxBlock, 80);
    EXPECT_EQ(other.dropAfter, 2);
    const auto slow = s->forCall("555 2000", 1);
    EXPECT_EQ(slow.bps, 1200);
    EXPECT_TRUE(slow.rejects("99"));
    EXPECT_FALSE(slow.rejects("98"));
    for (const char* bad : {"5551000 explode", "hello busy", "* drop-after=-1", "* max-block=300",
                            "* password", "* report-after=-1", "* report-after=soon",
                            "* report-before=never", "* report-fail=abc"}) {
        EXPECT_FALSE(sim::Scenario::parse(QString::fromLatin1(bad), &error).has_value()) << bad;
        EXPECT_TRUE(error.startsWith(QStringLiteral("line 1"))) << bad;
    }
}

}  // namespace
}  // namespace vts
