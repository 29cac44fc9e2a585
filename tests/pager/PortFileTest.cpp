#include "FailingPortDevice.h"
#include "PagerFixture.h"

using namespace vts;
using namespace vts::test;

namespace {

QByteArray le16(int v) {
    QByteArray b(2, '\0');
    b[0] = static_cast<char>(v & 0xFF);
    b[1] = static_cast<char>((v >> 8) & 0xFF);
    return b;
}
QByteArray le32(qint64 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}
QByteArray text(const QByteArray& s, int width) {
    const QByteArray cut = s.left(width);
    return cut + QByteArray(width - cut.size(), ' ');
}

// One record spelt out field by field, in file order.
struct Expected {
    int comPort = 0;
    QByteArray message, phone, pin, init, dial;
    int maxChars = 0;
    QByteArray comSettings;
    int status = 0;
    QByteArray reserved1;
    int retries = 0, timeout = 0, debug = 0;
    QByteArray uniqueId;
    int window = 0, speaker = 0, volume = 0;
    QByteArray password;
    int delay = 0, kind = 0;
    qint64 index = 0;
    QByteArray ascii;

    QByteArray bytes() const {
        QByteArray b = le16(comPort) + text(message, 500) + text(phone, 30) + text(pin, 20) +
                       text(init, 30) + text(dial, 30) + le16(maxChars) + text(comSettings, 20) +
                       le16(status) + text(reserved1, 30) + text("", 20) + le16(retries) +
                       le16(timeout) + le16(debug) + text(uniqueId, 30) + le16(window) +
                       le16(speaker) + le16(volume) + text(password, 6) + le16(delay) + le16(kind) +
                       le32(index) + text(ascii, 30);
        EXPECT_EQ(b.size(), 772);
        return b;
    }
};

}  // namespace

class PortFileTest : public PagerTest {};

TEST_F(PortFileTest, ABatchIsWrittenByteForByte) {
    makePager();
    pager->setTimeout(45);
    pager->setDebugMode(1);
    pager->setWindowState(2);
    pager->setVolumeLevel(3);
    pager->setSpeakerState(0);
    pager->AddComPort(6);
    // Whatever the dialer left in the header's first reserved field travels
    // on in every record the control writes.
    PortRecord header;
    header.reserved1 = "left by dialer";
    ASSERT_TRUE(portfile::writeRecord(path("mordax1.dat"), 1, header.encode()));

    pager->SendMessage(QString::fromUtf8("Caf\u00e9 \u20ac5 ") + QString(600, 'x'), "5550100",
                       "PIN-1", 300, QString(35, 'u'), "9600,E,7,1", "ATZ", "ATDT",
                       "secret-password");
    pager->SendNumeric("  314  ", "5550100", "-2.5", "num-2", "2400", "AT&F", "ATDP");
    pager->SendAscii("ignored", "5550100", "P3", "C:\\PAGES\\NOTE.TXT", -1, "ascii-3");
    dialer->script = [](DialerRun&) { return std::nullopt; };
    ticks(1);
    ASSERT_EQ(dialer->runs.size(), 1u);

    Expected alpha;
    alpha.comPort = 6;
    alpha.message = QByteArray(
                        "Caf\xe9 \x80"
                        "5 ") +
                    QByteArray(600, 'x');
    alpha.phone = "5550100";
    alpha.pin = "PIN-1";
    alpha.init = "ATZ";
    alpha.dial = "ATDT";
    alpha.maxChars = 300;
    alpha.comSettings = "9600,E,7,1";
    alpha.status = 1;
    alpha.reserved1 = "left by dialer";
    alpha.timeout = 45;
    alpha.debug = 1;
    alpha.uniqueId = QByteArray(35, 'u');
    alpha.window = 2;
    alpha.speaker = 0;
    alpha.volume = 3;
    alpha.password = "secret";
    alpha.kind = 0;
    alpha.index = 1;

    Expected numeric = alpha;
    numeric.message = "  314  ";
    numeric.pin = "";
    numeric.init = "AT&F";
    numeric.dial = "ATDP";
    numeric.maxChars = 0;
    numeric.comSettings = "2400";
    numeric.uniqueId = "num-2";
    numeric.password = "";
    numeric.delay = -2;  // half to even
    numeric.kind = 1;
    numeric.index = 2;

    Expected ascii = alpha;
    ascii.message = "ignored";
    ascii.pin = "P3";
    ascii.init = "";
    ascii.dial = "";
    ascii.maxChars = -1;
    ascii.comSettings = "";
    ascii.uniqueId = "ascii-3";
    ascii.password = "";
    ascii.kind = 2;
    ascii.index = 3;
    ascii.ascii = "C:\\PAGES\\NOTE.TXT";

    Expected head = ascii;
    head.index = 3;  // the message count

    const QByteArray file = readFile("mordax1.dat");
    ASSERT_EQ(file.size(), 4 * 772);
    EXPECT_EQ(file.mid(0, 772), head.bytes());
    EXPECT_EQ(file.mid(772, 772), alpha.bytes());
    EXPECT_EQ(file.mid(2 * 772, 772), numeric.bytes());
    EXPECT_EQ(file.mid(3 * 772, 772), ascii.bytes());
}

TEST_F(PortFileTest, CollectionFreesThePortWithoutShorteningTheFile) {
    makePager();
    pager->AddComPort(2);
    for (const char* id : {"a", "b", "c"}) send(QString::fromLatin1(id));
    ticks(2);
    ASSERT_EQ(events.size(), 3u);
    QByteArray file = readFile("mordax1.dat");
    ASSERT_EQ(file.size(), 4 * 772);
    // The freed header is the last message's record with status 0.
    PortRecord freed = *PortRecord::decode(file.left(772));
    EXPECT_EQ(freed.status, 0);
    EXPECT_EQ(freed.index, 3);
    EXPECT_EQ(freed.uniqueId.trimmed(), "c");

    send("d");
    ticks(2);
    file = readFile("mordax1.dat");
    EXPECT_EQ(file.size(), 4 * 772);
    EXPECT_EQ(PortRecord::decode(file.mid(772, 772))->uniqueId.trimmed(), "d");
    EXPECT_EQ(PortRecord::decode(file.mid(3 * 772, 772))->uniqueId.trimmed(), "c");
    EXPECT_EQ(eventIds(), QStringList({"a", "b", "c", "d"}));
}

// A port-file write that stops part-way (a full disk) never lets a page
// count as sent: the batch is taken back, its pages wait, the port is free
// again, and once writes succeed each page goes out and is reported once.
TEST_F(PortFileTest, AWriteThatStopsPartWayNeverReportsAPageSent) {
    constexpr int kRec = PortRecord::kSize;
    struct Row {
        const char* name;
        long long budget;  // bytes written before the device fails
    };
    const Row rows[] = {
        {"nothing of the first message record", 0},
        {"part of the first message record", 300},
        {"part of the second message record", kRec + 400},
        {"the header up to before its status", 2 * kRec + 600},
        {"the header past its status, before its count", 2 * kRec + 700},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        dialer->runs.clear();
        makePager();
        FailingPortDevice device;
        pager->setPortFileDevice(device);
        pager->AddComPort(1);
        send("a");
        send("b");
        device.failWritesAfter(row.budget);
        ticks(1);
        EXPECT_TRUE(events.empty());
        EXPECT_TRUE(dialer->runs.empty());
        EXPECT_EQ(pager->QueueCount(), 2);
        EXPECT_FALSE(slot(1).InProgress);
        EXPECT_FALSE(slot(2).InProgress);

        device.heal();
        ticks(3);
        ASSERT_EQ(dialer->runs.size(), 1u);
        EXPECT_EQ(dialer->runs[0].records.size(), 2u);
        EXPECT_EQ(eventIds(), QStringList({"a", "b"}));
        for (const RaisedEvent& e : events) EXPECT_EQ(e.kind, RaisedEvent::Sent);
        EXPECT_EQ(headerStatus(1), 0);
        pager.reset();
    }
}
