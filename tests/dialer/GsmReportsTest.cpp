// GSM status reports: the SMS-STATUS-REPORT decoder, the [gsm] receipt
// keys, and calvex against pagesim's GSM modem on a pseudo-terminal,
// checked through the delivery notes the run leaves and its trace.
#include "DialerRun.h"

#include <DeliveryNotes.h>
#include <DeliveryStore.h>
#include <Dialer.h>
#include <GsmTransport.h>
#include <LogStore.h>
#include <SmsPdu.h>

#include <QElapsedTimer>

namespace vts {
namespace {

using test::message;
using test::str;

// Reports written out field by field, as the standard lays them down.
TEST(SmsStatusReport, DecodesWhatTheCentreSends) {
    // SMSC +4917000000, then the TPDU: first octet, TP-MR, TP-RA, TP-SCTS,
    // TP-DT, TP-ST.
    const QByteArray smsc = "06919471000000";
    const QByteArray intl13 = "0D91945111325476F8";  // +4915112345678, 13 digits
    const QByteArray national10 = "0A811015214365";  // 0151123456
    const QByteArray scts = "62218090510340";        // 26-12-08 09:15:30 +01:00
    const QByteArray dt = "62218090515440";          // 26-12-08 09:15:45 +01:00
    const QByteArray dtWest = "6221809051540A";      // the same clock time at -05:00
    const QByteArray garbled = "62318090515440";     // month 13
    const struct {
        const char* name;
        QByteArray hex;
        int length;  // as +CDS announced it; -1: the SMSC field is expected
        bool ok;
        int reference;
        const char* recipient;
        int status;
        sms::ReportState state;
        const char* words;  // the status in words, or the refusal
        const char* done;   // TP-DT in UTC, "" when garbled
    } cases[] = {
        {"delivered, international, odd digits", smsc + "0611" + intl13 + scts + dt + "00", 26,
         true, 17, "+4915112345678", 0x00, sms::ReportState::Delivered, "received by the SME",
         "2026-12-08T08:15:45Z"},
        {"forwarded, not confirmed", smsc + "06FF" + intl13 + scts + dt + "01", -1, true, 255,
         "+4915112345678", 0x01, sms::ReportState::Delivered,
         "forwarded to the SME, delivery not confirmed", "2026-12-08T08:15:45Z"},
        {"no SMSC field, national, even digits", "0620" + national10 + scts + dt + "46", 24, true,
         32, "0151123456", 0x46, sms::ReportState::Failed, "validity period expired",
         "2026-12-08T08:15:45Z"},
        {"empty SMSC field, still trying, west of UTC",
         "00" + QByteArray("0601") + intl13 + scts + dtWest + "21", 26, true, 1, "+4915112345678",
         0x21, sms::ReportState::Trying, "SME busy", "2026-12-08T14:15:45Z"},
        {"given up after temporary errors", smsc + "0602" + intl13 + scts + dt + "62", 26, true, 2,
         "+4915112345678", 0x62, sms::ReportState::Failed, "no response from SME",
         "2026-12-08T08:15:45Z"},
        {"permanent error", smsc + "0603" + intl13 + scts + dt + "41", 26, true, 3,
         "+4915112345678", 0x41, sms::ReportState::Failed, "incompatible destination",
         "2026-12-08T08:15:45Z"},
        {"deleted by the sender", smsc + "0604" + intl13 + scts + dt + "47", 26, true, 4,
         "+4915112345678", 0x47, sms::ReportState::Failed, "deleted by originating SME",
         "2026-12-08T08:15:45Z"},
        {"centre-specific permanent error", smsc + "0605" + intl13 + scts + dt + "5A", 26, true, 5,
         "+4915112345678", 0x5A, sms::ReportState::Failed, "permanent error 0x5A",
         "2026-12-08T08:15:45Z"},
        {"reserved status", smsc + "0606" + intl13 + scts + dt + "80", 26, true, 6,
         "+4915112345678", 0x80, sms::ReportState::Unknown, "reserved status 0x80",
         "2026-12-08T08:15:45Z"},
        {"garbled time stamp, status still read", smsc + "0607" + intl13 + scts + garbled + "00",
         26, true, 7, "+4915112345678", 0x00, sms::ReportState::Delivered, "received by the SME",
         ""},
        {"optional parameters after the status", smsc + "0608" + intl13 + scts + dt + "00" + "00",
         27, true, 8, "+4915112345678", 0x00, sms::ReportState::Delivered, "received by the SME",
         "2026-12-08T08:15:45Z"},
        {"empty", "", -1, false, 0, "", 0, {}, "empty", ""},
        {"not hexadecimal", "0G06", -1, false, 0, "", 0, {}, "not hexadecimal", ""},
        {"odd hex digits", "00061", -1, false, 0, "", 0, {}, "odd number of hex digits", ""},
        {"SMSC field longer than the PDU",
         "0991947100",
         -1,
         false,
         0,
         "",
         0,
         {},
         "SMSC field cut short",
         ""},
        {"an SMS-DELIVER",
         smsc + "0411" + intl13 + scts + dt + "00",
         26,
         false,
         0,
         "",
         0,
         {},
         "not an SMS-STATUS-REPORT",
         ""},
        {"cut after the first octet",
         smsc + "06",
         -1,
         false,
         0,
         "",
         0,
         {},
         "message reference cut short",
         ""},
        {"cut in the address",
         smsc + "0611" + "0D91945111",
         -1,
         false,
         0,
         "",
         0,
         {},
         "recipient address cut short",
         ""},
        {"address longer than 20 digits",
         smsc + "0611" + "1591" + QByteArray(22, '1') + scts + dt + "00",
         -1,
         false,
         0,
         "",
         0,
         {},
         "recipient address cut short",
         ""},
        {"alphanumeric address",
         smsc + "0611" + "0AD0C8329BFD06" + scts + dt + "00",
         -1,
         false,
         0,
         "",
         0,
         {},
         "alphanumeric recipient address",
         ""},
        {"bad digit in the address",
         smsc + "0611" + "0491A132" + scts + dt + "00",
         -1,
         false,
         0,
         "",
         0,
         {},
         "bad digit in the recipient address",
         ""},
        {"cut before the status",
         smsc + "0611" + intl13 + scts + dt,
         -1,
         false,
         0,
         "",
         0,
         {},
         "time stamps or status cut short",
         ""},
        {"length announced wrongly",
         smsc + "0611" + intl13 + scts + dt + "00",
         30,
         false,
         0,
         "",
         0,
         {},
         "+CDS announced 30 octets but the PDU has 26",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const auto r = sms::decodeStatusReport(c.hex, c.length, &error);
        ASSERT_EQ(r.has_value(), c.ok) << error.toStdString();
        if (!c.ok) {
            EXPECT_EQ(error, QLatin1String(c.words));
            continue;
        }
        EXPECT_EQ(r->reference, c.reference);
        EXPECT_EQ(r->recipient, QByteArray(c.recipient));
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(sms::reportState(r->status), c.state);
        EXPECT_EQ(sms::statusText(r->status), QLatin1String(c.words));
        EXPECT_EQ(r->doneTime.toUTC().toString(Qt::ISODate), QLatin1String(c.done));
    }
}

// The reports the simulated modem sends, read by Debian's Device::Gsm::Sms
// and by our decoder alike.
TEST(SmsStatusReport, IndependentDecoderReadsTheSimulatedReports) {
    QProcess probe;
    probe.start(QStringLiteral("perl"),
                {QStringLiteral("-MDevice::Gsm::Sms"), QStringLiteral("-e1")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0) {
        GTEST_SKIP() << "Device::Gsm::Sms is not installed (Debian: libdevice-gsm-perl)";
    }
    const struct {
        int reference;
        const char* recipient;
        int status;
        const char* smsc;
    } cases[] = {
        {17, "+4915112345678", 0x00, "+4917000000"},
        {0, "0151123456", 0x41, ""},
        {255, "+447700900123", 0x21, "+447785016005"},
        {128, "12345", 0x62, "0170000"},
    };
    QStringList args{QStringLiteral(DIALER_PEERS_DIR "/status_report_decode.pl")};
    QList<QByteArray> pdus;
    QList<int> lengths;
    for (const auto& c : cases) {
        sms::StatusReport r;
        r.reference = c.reference;
        r.recipient = c.recipient;
        r.status = c.status;
        r.centreTime = QDateTime(QDate(2026, 12, 8), QTime(9, 15, 30), Qt::OffsetFromUTC, 3600);
        r.doneTime = r.centreTime.addSecs(15);
        int length = 0;
        pdus << sms::encodeStatusReport(r, c.smsc, &length);
        lengths << length;
        args << QString::number(length) << QString::fromLatin1(pdus.last());
    }
    QProcess perl;
    perl.start(QStringLiteral("perl"), args);
    ASSERT_TRUE(perl.waitForFinished(20000));
    const QList<QByteArray> lines = perl.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), std::size(cases));
    for (int i = 0; i < lines.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(pdus[i].toStdString());
        const QJsonObject peer = QJsonDocument::fromJson(lines[i]).object();
        EXPECT_EQ(peer.value(QLatin1String("type")).toInt(), 2);
        EXPECT_EQ(str(peer, "mr"), QString::number(c.reference));
        EXPECT_EQ(str(peer, "recipient"), QLatin1String(c.recipient));
        EXPECT_EQ(str(peer, "status").toInt(nullptr, 16), c.status);
        QString error;
        const auto ours = sms::decodeStatusReport(pdus[i], lengths[i], &error);
        ASSERT_TRUE(ours) << error.toStdString();
        EXPECT_EQ(ours->reference, c.reference);
        EXPECT_EQ(ours->recipient, QByteArray(c.recipient));
        EXPECT_EQ(ours->status, c.status);
        EXPECT_EQ(ours->doneTime, QDateTime(QDate(2026, 12, 8), QTime(8, 15, 45), Qt::UTC));
    }
}

TEST(SmsStatusReport, MessageIdsMatchWhateverWayTheNumberIsWritten) {
    const struct {
        int com, reference;
        const char* number;
        const char* id;
    } cases[] = {
        {3, 17, "+4915112345678", "gsm:COM3:17:12345678"},
        {3, 17, "015112345678", "gsm:COM3:17:12345678"},
        {1, 0, "1234", "gsm:COM1:0:1234"},
        {8, 255, "+1 (555) 010-9999", "gsm:COM8:255:50109999"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GsmTransport::messageId(c.com, c.reference, c.number), QLatin1String(c.id))
            << c.number;
    }
}

class GsmReceiptKeys : public test::TempDirTest {};

TEST_F(GsmReceiptKeys, AreReadAndBounded) {
    const struct {
        const char* ini;
        bool receipts;
        double wait;
    } cases[] = {
        {"", false, 15},
        {"[gsm]\nreceipts=on\n", true, 15},
        {"[gsm]\nreceipts=off\nreceipt_wait=3.5\n", false, 3.5},
        {"[gsm]\nreceipts=yes\nreceipt_wait=0\n", true, 0},
        {"[gsm]\nreceipts=maybe\nreceipt_wait=600\n", false, 120},
        {"[gsm]\nreceipt_wait=-4\n", false, 15},
        {"[gsm]\nreceipt_wait=soon\n", false, 15},
    };
    for (const auto& c : cases) {
        writeFile(QStringLiteral("calvex.ini"), c.ini);
        const DialerOptions o = DialerOptions::fromIni(path(QStringLiteral("calvex.ini")));
        EXPECT_EQ(o.gsmReceipts, c.receipts) << c.ini;
        EXPECT_DOUBLE_EQ(o.gsmReceiptWait, c.wait) << c.ini;
    }
}

// A report settles the newest part awaiting its ID: after the reference
// wraps, the same ID may stand for an older part that never got a report.
TEST_F(GsmReceiptKeys, ReportSettlesTheNewestPartAwaitingItsId) {
    logstore::create(dir());
    auto log = logstore::open(dir());
    ASSERT_TRUE(log);
    const QString id = GsmTransport::messageId(1, 7, "+4915112345678");
    const QDateTime t0(QDate(2026, 12, 8), QTime(9, 0));
    delivery::noteSubmitted(*log, 5, {id}, t0);
    delivery::noteSubmitted(*log, 9, {QStringLiteral("gsm:COM1:6:12345678"), id}, t0.addSecs(600));
    delivery::noteSubmitted(*log, 3, {id}, t0.addSecs(-600));
    EXPECT_EQ(delivery::noteReceipt(*log, id, false, QStringLiteral("SME busy"), t0.addSecs(700)),
              1);
    const auto newest = delivery::of(*log, 9, 60, t0.addSecs(700));
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->state, QStringLiteral("not delivered"));
    EXPECT_EQ(delivery::of(*log, 5, 60, t0.addSecs(700))->state,
              QStringLiteral("awaiting receipt"));
    EXPECT_EQ(delivery::noteReceipt(*log, id, true, {}, t0.addSecs(800)), 1);
    EXPECT_EQ(delivery::of(*log, 5, 60, t0.addSecs(800))->state, QStringLiteral("delivered"));
    EXPECT_EQ(delivery::of(*log, 3, 20, t0.addSecs(800))->state, QStringLiteral("no receipt"));
}

// calvex against the simulated GSM modem: what the run notes for the log
// store's delivery table, and what its trace says.
class GsmReceipts : public test::DialerRun {
protected:
    // The same notes, in any order in which each receipt follows the
    // submission of its part.
    static void expectNotes(QStringList actual, QStringList expected) {
        for (qsizetype i = 0; i < actual.size(); ++i) {
            if (actual[i].startsWith(u"receipt ")) {
                const QString id = actual[i].section(u' ', 1, 1);
                const auto submitted =
                    std::find_if(actual.begin(), actual.begin() + i, [&](const QString& n) {
                        return n.startsWith(u"submitted ") &&
                               n.section(u' ', 2).split(u',').contains(id);
                    });
                EXPECT_NE(submitted, actual.begin() + i) << actual[i].toStdString();
            }
        }
        actual.sort();
        expected.sort();
        EXPECT_EQ(actual, expected);
    }
    // The notes the run left, one line each: "submitted 1001 ID,ID" or
    // "receipt ID delivered|not delivered: REASON".
    QStringList notes() {
        QStringList out;
        for (const QJsonObject& n : deliverynotes::take(dir())) {
            if (str(n, "kind") == QLatin1String("submitted")) {
                QStringList ids;
                for (const QJsonValue& v : n.value(QLatin1String("message_ids")).toArray()) {
                    ids << v.toString();
                }
                out << QStringLiteral("submitted %1 %2")
                           .arg(n.value(QLatin1String("id")).toInteger())
                           .arg(ids.join(u','));
            } else {
                out << QStringLiteral("receipt %1 %2")
                           .arg(str(n, "message_id"),
                                n.value(QLatin1String("delivered")).toBool()
                                    ? QStringLiteral("delivered")
                                    : QStringLiteral("not delivered: ") + str(n, "reason"));
            }
        }
        return out;
    }
};

TEST_F(GsmReceipts, ReportsBecomeDeliveryNotes) {
    const QString intl = QStringLiteral("+4915112345678");
    const QString failing = QStringLiteral("4915100000000");
    QString longText;
    while (longText.size() < 400) {
        longText += QStringLiteral("Long page %1. ").arg(longText.size());
    }
    const QString a = QStringLiteral("gsm:COM1:%1:12345678");
    const QString f = QStringLiteral("gsm:COM1:%1:00000000");
    const struct {
        const char* name;
        const char* scenario;
        const char* ini;
        QList<QPair<QString, QString>> pages;  // PIN, text
        QStringList notes;
        const char* traced;  // what the trace must hold
        bool asked;          // the parts asked for reports
    } cases[] = {
        {"delivered",
         "COM1 report-after=0.1",
         "receipts=on\n",
         {{intl, QStringLiteral("hi")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1))},
         "every awaited status report came",
         true},
        {"not delivered, with the reason",
         "COM1 report-fail=4915100000000 report-after=0.1",
         "receipts=on\n",
         {{failing, QStringLiteral("no")}, {intl, QStringLiteral("yes")}},
         {QStringLiteral("submitted 1001 ") + f.arg(1),
          QStringLiteral("submitted 1002 ") + a.arg(2),
          QStringLiteral("receipt %1 not delivered: incompatible destination").arg(f.arg(1)),
          QStringLiteral("receipt %1 delivered").arg(a.arg(2))},
         "TP-ST 0x41, incompatible destination",
         true},
        // Reports due at once come while the next pages' commands run.
        {"between the pages' commands",
         "COM1 report-after=0",
         "receipts=on\n",
         {{intl, QStringLiteral("one")},
          {intl, QStringLiteral("two")},
          {intl, QStringLiteral("three")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1)),
          QStringLiteral("submitted 1002 ") + a.arg(2),
          QStringLiteral("receipt %1 delivered").arg(a.arg(2)),
          QStringLiteral("submitted 1003 ") + a.arg(3),
          QStringLiteral("receipt %1 delivered").arg(a.arg(3))},
         "status report for gsm:COM1:1:12345678",
         true},
        // Reports held for the next page's prompt or +CMGS answer: the
        // last page's never comes.
        {"before the prompt",
         "COM1 report-after=0 report-before=prompt",
         "receipts=on\nreceipt_wait=0.3\n",
         {{intl, QStringLiteral("one")},
          {intl, QStringLiteral("two")},
          {intl, QStringLiteral("three")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1)),
          QStringLiteral("submitted 1002 ") + a.arg(2),
          QStringLiteral("receipt %1 delivered").arg(a.arg(2)),
          QStringLiteral("submitted 1003 ") + a.arg(3)},
         "00<CR><LF><CR><LF>> ",
         true},
        {"before +CMGS",
         "COM1 report-after=0 report-before=cmgs",
         "receipts=on\nreceipt_wait=0.3\n",
         {{intl, QStringLiteral("one")},
          {intl, QStringLiteral("two")},
          {intl, QStringLiteral("three")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1)),
          QStringLiteral("submitted 1002 ") + a.arg(2),
          QStringLiteral("receipt %1 delivered").arg(a.arg(2)),
          QStringLiteral("submitted 1003 ") + a.arg(3)},
         "00<CR><LF><CR><LF>+CMGS: 2<CR>",
         true},
        {"still trying first, then delivered",
         "COM1 report-trying report-after=0.4",
         "receipts=on\n",
         {{intl, QStringLiteral("hi")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1))},
         "TP-ST 0x21, SME busy, the centre still tries",
         true},
        {"long text, one ID per part",
         "COM1 report-after=0.1",
         "receipts=on\n",
         {{intl, longText}},
         {QStringLiteral("submitted 1001 %1,%2,%3").arg(a.arg(1), a.arg(2), a.arg(3)),
          QStringLiteral("receipt %1 delivered").arg(a.arg(1)),
          QStringLiteral("receipt %1 delivered").arg(a.arg(2)),
          QStringLiteral("receipt %1 delivered").arg(a.arg(3))},
         "every awaited status report came",
         true},
        {"no report within receipt_wait",
         "COM1 no-reports",
         "receipts=on\nreceipt_wait=0.5\n",
         {{intl, QStringLiteral("hi")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1)},
         "1 part(s) still without a status report (time is up)",
         true},
        {"no wait at all",
         "COM1 report-after=3",
         "receipts=on\nreceipt_wait=0\n",
         {{intl, QStringLiteral("hi")}},
         {QStringLiteral("submitted 1001 ") + a.arg(1)},
         "[gsm] receipt_wait is 0",
         true},
        {"AT+CNMI refused",
         "COM1 no-cnmi report-after=0",
         "receipts=on\n",
         {{intl, QStringLiteral("hi")}},
         {},
         "modem answered ERROR to AT+CNMI: pages go without status reports",
         false},
        {"receipts off",
         "COM1 report-after=0",
         "",
         {{intl, QStringLiteral("hi")}},
         {},
         "SMS to",
         false},
    };
    for (const auto& c : cases) {
        startSim(QString::fromLatin1(c.scenario), QStringLiteral("1"), QStringLiteral("--gsm"),
                 QByteArray("[gsm]\n") + c.ini);
        QList<PortRecord> records;
        for (const auto& [pin, text] : c.pages) {
            records << message(static_cast<int>(records.size()) + 1, text, pin);
        }
        writePortFile(records);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(runDialer(), 0);
        const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
        SCOPED_TRACE(std::string(c.name) + "\n" + trace.toStdString());
        EXPECT_LT(clock.elapsed(), 10000);
        expectStatuses(2, QList<std::int16_t>(c.pages.size(), 2));
        expectNotes(notes(), c.notes);
        EXPECT_TRUE(trace.contains(c.traced));
        EXPECT_EQ(trace.contains("-> AT+CNMI=2,0,0,1,0"), QByteArray(c.ini).contains("on"));
        ASSERT_EQ(pages().size(), c.pages.size());
        for (const QJsonObject& p : pages()) {
            EXPECT_EQ(p.value(QLatin1String("status_report")).toBool(), c.asked);
        }
        if (c.pages.size() == 3) {
            // The first page's report was read while the second page went out.
            const qsizetype report = trace.indexOf("status report for gsm:COM1:1:");
            EXPECT_GE(report, 0);
            EXPECT_LT(report, trace.indexOf("modem reference(s) 3"));
        }
        expectNoViolations();
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        for (const char* file : {"KRX1.log", "pages.jsonl", "calls.jsonl"}) {
            QFile::remove(path(QLatin1String(file)));
        }
    }
}

// A stop request ends the wait for reports at once; the page stays sent.
TEST_F(GsmReceipts, StopEndsTheWaitAtOnce) {
    startSim(QStringLiteral("COM1 no-reports"), QStringLiteral("1"), QStringLiteral("--gsm"),
             "[gsm]\nreceipts=on\nreceipt_wait=100\n");
    writePortFile({message(1, QStringLiteral("hi"), QStringLiteral("+4915112345678"))});
    QProcess dialer;
    ASSERT_EQ(runDialer(QStringLiteral(" 1"), &dialer), 0);
    for (int i = 0; i < 200 && !readFile(QStringLiteral("KRX1.log")).contains("waiting up to");
         ++i) {
        dialer.waitForFinished(50);
    }
    ASSERT_TRUE(readFile(QStringLiteral("KRX1.log")).contains("waiting up to 100 s"));
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(dialer.processId()), SIGTERM);
    ASSERT_TRUE(dialer.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    expectStatuses(2, {2});
    EXPECT_TRUE(
        readFile(QStringLiteral("KRX1.log")).contains("still without a status report (stopped)"));
    EXPECT_EQ(notes(), QStringList{QStringLiteral("submitted 1001 gsm:COM1:1:12345678")});
}

}  // namespace
}  // namespace vts
