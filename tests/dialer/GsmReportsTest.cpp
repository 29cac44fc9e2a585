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
#include <QRegularExpression>

namespace vts {
namespace {

using test::message;
using test::str;

// Reports written out field by field, as the standard lays them down.
TEST(SmsStatusReport, DecodesWhatTheCentreSends) {
    // SMSC +4917000000, then the TPDU: first octet, TP-MR, TP-RA, TP-SCTS,
    // TP-DT, TP-ST.
    const QByteArray smsc = "06919471000000";
    const QByteArray intl13 = "0D91945111325476F8";              // +4915112345678, 13 digits
    const QByteArray scts = "62218090510340";                    // 26-12-08 09:15:30 +01:00
    const QByteArray dt = "62218090515440";                      // 26-12-08 09:15:45 +01:00
    const QByteArray intl = smsc + "06" + "11" + intl13 + scts;  // TP-MR 17
    using S = sms::ReportState;
    const struct {
        const char* name;
        QByteArray hex;
        int length;  // as +CDS announced it; -1: the SMSC field is expected
        int reference;
        const char* recipient;
        int status;
        S state;
        const char* words;
        const char* done;  // TP-DT in UTC, "" when garbled
    } cases[] = {
        {"delivered, international, odd digits", intl + dt + "00", 26, 17, "+4915112345678", 0x00,
         S::Delivered, "received by the SME", "2026-12-08T08:15:45Z"},
        {"forwarded, not confirmed", smsc + "06FF" + intl13 + scts + dt + "01", -1, 255,
         "+4915112345678", 0x01, S::Delivered, "forwarded to the SME, delivery not confirmed",
         "2026-12-08T08:15:45Z"},
        {"no SMSC field, national, even digits",
         "0620"
         "0A811015214365" +
             scts + dt + "46",
         24, 32, "0151123456", 0x46, S::Failed, "validity period expired", "2026-12-08T08:15:45Z"},
        {"empty SMSC field, still trying, west of UTC",
         "000601" + intl13 + scts + "6221809051540A" + "21", 26, 1, "+4915112345678", 0x21,
         S::Trying, "SME busy", "2026-12-08T14:15:45Z"},
        {"given up after temporary errors", intl + dt + "62", 26, 17, "+4915112345678", 0x62,
         S::Failed, "no response from SME", "2026-12-08T08:15:45Z"},
        {"permanent error", intl + dt + "41", 26, 17, "+4915112345678", 0x41, S::Failed,
         "incompatible destination", "2026-12-08T08:15:45Z"},
        {"deleted by the sender", intl + dt + "47", 26, 17, "+4915112345678", 0x47, S::Failed,
         "deleted by originating SME", "2026-12-08T08:15:45Z"},
        {"centre-specific permanent error", intl + dt + "5A", 26, 17, "+4915112345678", 0x5A,
         S::Failed, "permanent error 0x5A", "2026-12-08T08:15:45Z"},
        {"reserved status", intl + dt + "80", 26, 17, "+4915112345678", 0x80, S::Unknown,
         "reserved status 0x80", "2026-12-08T08:15:45Z"},
        {"garbled time stamp (month 13), status still read", intl + "62318090515440" + "00", 26, 17,
         "+4915112345678", 0x00, S::Delivered, "received by the SME", ""},
        {"optional parameters after the status", intl + dt + "0000", 27, 17, "+4915112345678", 0x00,
         S::Delivered, "received by the SME", "2026-12-08T08:15:45Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const auto r = sms::decodeStatusReport(c.hex, c.length, &error);
        ASSERT_TRUE(r.has_value()) << error.toStdString();
        EXPECT_EQ(r->reference, c.reference);
        EXPECT_EQ(r->recipient, QByteArray(c.recipient));
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(sms::reportState(r->status), c.state);
        EXPECT_EQ(sms::statusText(r->status), QLatin1String(c.words));
        EXPECT_EQ(r->doneTime.toUTC().toString(Qt::ISODate), QLatin1String(c.done));
    }
    const struct {
        QByteArray hex;
        int length;
        const char* why;
    } refused[] = {
        {"", -1, "empty"},
        {"0G06", -1, "not hexadecimal"},
        {"00061", -1, "odd number of hex digits"},
        {"0991947100", -1, "SMSC field cut short"},
        {smsc + "0411" + intl13 + scts + dt + "00", 26, "not an SMS-STATUS-REPORT"},
        {smsc + "06", -1, "message reference cut short"},
        {smsc + "0611" + "0D91945111", -1, "recipient address cut short"},
        {smsc + "0611" + "1591" + QByteArray(22, '1') + scts + dt + "00", -1,
         "recipient address cut short"},
        {smsc + "0611" + "0AD0C8329BFD06" + scts + dt + "00", -1, "alphanumeric recipient address"},
        {smsc + "0611" + "0491A132" + scts + dt + "00", -1, "bad digit in the recipient address"},
        {intl + dt, -1, "time stamps or status cut short"},
        {intl + dt + "00", 30, "+CDS announced 30 octets but the PDU has 26"},
        {QByteArray(402, '0'), -1, "too long"},
    };
    for (const auto& c : refused) {
        QString error;
        EXPECT_FALSE(sms::decodeStatusReport(c.hex, c.length, &error)) << c.why;
        EXPECT_EQ(error, QLatin1String(c.why));
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
    // The notes the run left, in short: "1001=1,2" (page 1001's parts went
    // out as references 1 and 2 of COM1), "1+" (reference 1 delivered),
    // "2-REASON" (not delivered). Every ID must name COM1 and 12345678 or
    // 00000000, the two recipients' last digits.
    QStringList notes() {
        static const QRegularExpression id(QStringLiteral("^gsm:COM1:(\\d+):(12345678|00000000)$"));
        auto mr = [](const QString& messageId) {
            const auto m = id.match(messageId);
            EXPECT_TRUE(m.hasMatch()) << messageId.toStdString();
            return m.captured(1);
        };
        QStringList out;
        deliverynotes::drain(dir(), [&](const QList<deliverynotes::Note>& all) {
            for (const deliverynotes::Note& n : all) {
                if (n.kind == deliverynotes::Note::Kind::Submitted) {
                    QStringList mrs;
                    for (const QString& m : n.messageIds) {
                        mrs << mr(m);
                    }
                    out << QString::number(n.id) + u'=' + mrs.join(u',');
                } else {
                    out << mr(n.messageId) +
                               (n.delivered ? QStringLiteral("+") : QStringLiteral("-") + n.reason);
                }
            }
            return true;
        });
        return out;
    }
    // `actual` holds the notes of `expected` ("; " between them) in an order
    // where each receipt follows the submission of its part.
    static void expectNotes(QStringList actual, const char* expected) {
        QStringList submitted;
        for (const QString& n : actual) {
            if (n.contains(u'=')) {
                submitted << n.section(u'=', 1).split(u',');
            } else {
                EXPECT_TRUE(submitted.contains(
                    n.left(n.indexOf(QRegularExpression(QStringLiteral("[+-]"))))))
                    << n.toStdString() << " before its submission";
            }
        }
        QStringList want =
            QString::fromLatin1(expected).split(QStringLiteral("; "), Qt::SkipEmptyParts);
        actual.sort();
        want.sort();
        EXPECT_EQ(actual.join(u"; ").toStdString(), want.join(u"; ").toStdString());
    }
};

TEST_F(GsmReceipts, ReportsBecomeDeliveryNotes) {
    QString longText;
    while (longText.size() < 400) {
        longText += QStringLiteral("Long page %1. ").arg(longText.size());
    }
    const char* three = "+4915112345678 +4915112345678 +4915112345678";
    const struct {
        const char* name;
        const char* scenario;
        const char* ini;    // [gsm] keys
        const char* pins;   // one page each; "long" for one long text to +4915112345678
        const char* notes;  // as notes() has them
        const char* traced;
        bool asked;  // the parts asked for reports
    } cases[] = {
        {"delivered", "report-after=0.1", "receipts=on", "+4915112345678", "1001=1; 1+",
         "every awaited status report came", true},
        {"not delivered, with the reason", "report-fail=4915100000000 report-after=0.1",
         "receipts=on", "4915100000000 +4915112345678",
         "1001=1; 1002=2; 1-incompatible destination; 2+", "TP-ST 0x41, incompatible destination",
         true},
        // Reports due at once come while the next pages' commands run.
        {"between the pages' commands", "report-after=0", "receipts=on", three,
         "1001=1; 1+; 1002=2; 2+; 1003=3; 3+", "status report for gsm:COM1:1:12345678", true},
        // Held for the next page's prompt or +CMGS answer: the last never comes.
        {"before the prompt", "report-after=0 report-before=prompt",
         "receipts=on\nreceipt_wait=0.3", three, "1001=1; 1+; 1002=2; 2+; 1003=3",
         "00<CR><LF><CR><LF>> ", true},
        {"before +CMGS", "report-after=0 report-before=cmgs", "receipts=on\nreceipt_wait=0.3",
         three, "1001=1; 1+; 1002=2; 2+; 1003=3", "00<CR><LF><CR><LF>+CMGS: 2<CR>", true},
        {"still trying first, then delivered", "report-trying report-after=0.4", "receipts=on",
         "+4915112345678", "1001=1; 1+", "TP-ST 0x21, SME busy, the centre still tries", true},
        {"long text, one ID per part", "report-after=0.1", "receipts=on", "long",
         "1001=1,2,3; 1+; 2+; 3+", "every awaited status report came", true},
        {"no report within receipt_wait", "no-reports", "receipts=on\nreceipt_wait=0.5",
         "+4915112345678", "1001=1", "1 part(s) still without a status report (time is up)", true},
        {"no wait at all", "report-after=3", "receipts=on\nreceipt_wait=0", "+4915112345678",
         "1001=1", "[gsm] receipt_wait is 0", true},
        {"AT+CNMI refused", "no-cnmi report-after=0", "receipts=on", "+4915112345678", "",
         "modem answered ERROR to AT+CNMI: pages go without status reports", false},
        {"receipts off", "report-after=0", "", "+4915112345678", "", "SMS to", false},
    };
    for (const auto& c : cases) {
        startSim(QStringLiteral("COM1 ") + QLatin1String(c.scenario), QStringLiteral("1"),
                 QStringLiteral("--gsm"), QByteArray("[gsm]\n") + c.ini + '\n');
        QList<PortRecord> records;
        for (const QString& pin : QString::fromLatin1(c.pins).split(u' ')) {
            const int slot = static_cast<int>(records.size()) + 1;
            records << (pin == u"long" ? message(slot, longText, QStringLiteral("+4915112345678"))
                                       : message(slot, QStringLiteral("page %1").arg(slot), pin));
        }
        writePortFile(records);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(runDialer(), 0);
        const QByteArray trace = readFile(QStringLiteral("KRX1.log"));
        SCOPED_TRACE(std::string(c.name) + "\n" + trace.toStdString());
        EXPECT_LT(clock.elapsed(), 10000);
        expectStatuses(2, QList<std::int16_t>(records.size(), 2));
        expectNotes(notes(), c.notes);
        EXPECT_TRUE(trace.contains(c.traced));
        EXPECT_EQ(trace.contains("-> AT+CNMI=2,0,0,1,0"), QByteArray(c.ini).contains("on"));
        ASSERT_EQ(pages().size(), records.size());
        for (const QJsonObject& p : pages()) {
            EXPECT_EQ(p.value(QLatin1String("status_report")).toBool(), c.asked);
        }
        if (records.size() == 3) {
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
    EXPECT_EQ(notes(), QStringList{QStringLiteral("1001=1")});
}

}  // namespace
}  // namespace vts
