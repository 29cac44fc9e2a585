// Operator alerts against the real pager control (alert pages land in the
// port file), a real mail server on 127.0.0.1 and the sound seam in virtual
// time.
#include "ServerTestSupport.h"

#include "AlertMailer.h"
#include "Conversions.h"
#include "PagerOCX.h"
#include "StatusListModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>

using namespace vts;
using namespace vts::test;

namespace {

// The test mail server: a Python process with aiosmtpd.
class MailServer {
public:
    explicit MailServer(const QString& outFile) : m_out(outFile) {
        m_proc.setProgram(QStringLiteral("/usr/bin/python3"));
        m_proc.setArguments({QStringLiteral(VTS_SMTP_SINK), outFile});
        m_proc.start();
        if (m_proc.waitForStarted(5000) && m_proc.waitForReadyRead(10000)) {
            m_port = QString::fromLatin1(m_proc.readLine()).trimmed().toInt();
        }
    }
    ~MailServer() {
        m_proc.closeWriteChannel();
        if (!m_proc.waitForFinished(5000)) {
            m_proc.kill();
        }
        m_proc.waitForFinished(2000);
    }
    int port() const { return m_port; }
    QList<QJsonObject> mails() const {
        QList<QJsonObject> out;
        QFile f(m_out);
        if (!f.open(QIODevice::ReadOnly)) {
            return out;
        }
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (!line.trimmed().isEmpty()) {
                out << QJsonDocument::fromJson(line).object();
            }
        }
        return out;
    }

private:
    QString m_out;
    QProcess m_proc;
    int m_port = 0;
};

class OperatorAlertsTest : public ServerTest {
protected:
    void failOne(std::int16_t modemFlag) {
        core().Pager1_MessageFailed(QStringLiteral("1"), QStringLiteral("text"),
                                    QStringLiteral("5551234"), QStringLiteral("1001"), modemFlag);
    }
    // Waits (in real time, blocking in the event loop) for n finished mails.
    bool waitForMails(QSignalSpy& spy, int n) {
        while (spy.count() < n) {
            if (!spy.wait(15000)) {
                return false;
            }
        }
        return true;
    }
    // Alert pages written into port files by the pager control.
    std::vector<PortRecord> alertPages() {
        std::vector<PortRecord> out;
        for (const Run& r : runs) {
            for (const PortRecord& m : r.messages) {
                if (conv::trim(m.uniqueId) == QStringLiteral("Alert")) {
                    out.push_back(m);
                }
            }
        }
        return out;
    }
    void alertsOn() {
        setSetting(QStringLiteral("ModemFailAlert"), -1);
        setSetting(QStringLiteral("PageFailAlert"), -1);
        setSetting(QStringLiteral("AlertByPage"), -1);
        setSetting(QStringLiteral("AlertAlphaPhoneNumber"), QStringLiteral(" 5559999 "));
        setSetting(QStringLiteral("AlertPIN"), QStringLiteral("42"));
        setSetting(QStringLiteral("VisualAlert"), -1);
    }
};

TEST_F(OperatorAlertsTest, ModemFailureWithBothAlertsPagesMailsAndShows) {
    MailServer smtp(path(QStringLiteral("mails.jsonl")));
    ASSERT_GT(smtp.port(), 0);
    alertsOn();
    setSetting(QStringLiteral("ALertByEMail"), -1);
    setSetting(QStringLiteral("AlertEMailAddress"), QStringLiteral("ops@example.com"));
    setSetting(QStringLiteral("AlertPagerEMailAddress"), QStringLiteral("pager@example.com"));
    setSetting(QStringLiteral("AlertSMTPServer"), QStringLiteral("127.0.0.1:%1").arg(smtp.port()));
    dialer = [](int, const PortRecord& m) {
        return conv::trim(m.uniqueId) == QStringLiteral("Alert") ? PortStatus::Sent
                                                                 : PortStatus::ModemError;
    };
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    ASSERT_TRUE(startCore());
    QSignalSpy spy(&mailer, &AlertMailer::mailFinished);
    run(30);

    const QStringList t = statusTexts();
    const QStringList want = {
        QStringLiteral("Message failed: Ph#=5551234 PIN=1001 ID=1"),
        QStringLiteral("Cause of ID=1: modem error"),
        QStringLiteral("Modem alert sent to pager: 5559999"),
        QStringLiteral("Error message e-mailed to: ops@example.com"),
        QStringLiteral("Error message e-mailed to pager address: pager@example.com"),
        QStringLiteral("Error message sent to pager: 5559999"),
        QStringLiteral("Error message e-mailed to: ops@example.com"),
        QStringLiteral("Error message e-mailed to pager address: pager@example.com"),
    };
    const qsizetype at = t.indexOf(want[0]);
    ASSERT_GE(at, 0) << t.join('\n').toStdString();
    EXPECT_EQ(t.mid(at, want.size()), want);

    const auto pages = alertPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(conv::trim(pages[0].message), QStringLiteral("VT SERVER MODEM ERROR ON COM PORT #1"));
    EXPECT_EQ(conv::trim(pages[1].message),
              QStringLiteral("VT SERVER TRANSMISSION ERROR: MESSAGE ID #1"));
    EXPECT_EQ(conv::trim(pages[0].phoneNumber), QStringLiteral("5559999"));
    EXPECT_EQ(conv::trim(pages[0].pin), QStringLiteral("42"));
    EXPECT_TRUE(hasStatus(QStringLiteral("Message sucessfully sent: Ph#=5559999 PIN=42 ID=Alert")));

    ASSERT_EQ(view.alerts.size(), 2);
    EXPECT_EQ(view.alerts[0],
              QStringLiteral("Modem error on COM port #1\r\n\r\nPh#=5551234 PIN=1001 ID=1"));
    EXPECT_EQ(view.alerts.last(), QStringLiteral("Message failed: Ph#=5551234 PIN=1001 ID=1"));

    ASSERT_TRUE(waitForMails(spy, 2));
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails[0].value("from").toString(), AlertMailer::kEnvelopeFrom);
    EXPECT_EQ(mails[0].value("to").toArray().size(), 2);
    EXPECT_EQ(mails[0].value("to").toArray()[0].toString(), QStringLiteral("ops@example.com"));
    EXPECT_EQ(mails[0].value("to").toArray()[1].toString(), QStringLiteral("pager@example.com"));
    const QString content = mails[0].value("content").toString();
    EXPECT_TRUE(content.contains(QStringLiteral("Subject: VT Server Alert!")))
        << content.toStdString();
    EXPECT_TRUE(content.contains(QStringLiteral("From: \"VT Server\"")));
    EXPECT_TRUE(content.contains(QStringLiteral("\r\n\r\nVT SERVER MODEM ERROR ON COM PORT #1")) ||
                content.contains(QStringLiteral("\n\nVT SERVER MODEM ERROR ON COM PORT #1")));
    EXPECT_TRUE(mails[1].value("content").toString().contains(
        QStringLiteral("VT SERVER TRANSMISSION ERROR: MESSAGE ID #1")));
}

TEST_F(OperatorAlertsTest, PlainFailureWithOnlyModemAlertOnRaisesNothing) {
    setSetting(QStringLiteral("ModemFailAlert"), -1);
    setSetting(QStringLiteral("AlertByPage"), -1);
    setSetting(QStringLiteral("AlertAlphaPhoneNumber"), QStringLiteral("5559999"));
    setSetting(QStringLiteral("AlertPIN"), QStringLiteral("42"));
    setSetting(QStringLiteral("VisualAlert"), -1);
    setSetting(QStringLiteral("AudioAlert"), -1);
    ASSERT_TRUE(startCore());
    run(1);
    const int before = static_cast<int>(statusTexts().size());
    failOne(0);
    EXPECT_EQ(statusTexts().size(), before + 2);  // no row line and the failure line only
    EXPECT_TRUE(view.alerts.isEmpty());
    EXPECT_EQ(beeps, 0);
}

TEST_F(OperatorAlertsTest, PagerAddressAloneGetsTheOnlyMail) {
    MailServer smtp(path(QStringLiteral("mails.jsonl")));
    ASSERT_GT(smtp.port(), 0);
    setSetting(QStringLiteral("PageFailAlert"), -1);
    setSetting(QStringLiteral("ALertByEMail"), -1);
    setSetting(QStringLiteral("AlertEMailAddress"), QStringLiteral("   "));
    setSetting(QStringLiteral("AlertPagerEMailAddress"), QStringLiteral("pager@example.com"));
    setSetting(QStringLiteral("AlertSMTPServer"), QStringLiteral("127.0.0.1:%1").arg(smtp.port()));
    ASSERT_TRUE(startCore());
    run(1);
    QSignalSpy spy(&mailer, &AlertMailer::mailFinished);
    failOne(0);
    EXPECT_TRUE(
        hasStatus(QStringLiteral("Error message e-mailed to pager address: pager@example.com")));
    EXPECT_FALSE(statusTexts().join('|').contains(QStringLiteral("Error message e-mailed to: ")));
    ASSERT_TRUE(waitForMails(spy, 1));
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].value("to").toArray().size(), 1);
    EXPECT_EQ(mails[0].value("to").toArray()[0].toString(), QStringLiteral("pager@example.com"));
}

TEST_F(OperatorAlertsTest, LoneFirstAddressKeepsItsCommaWhichIsSkipped) {
    EXPECT_EQ(AlertMailer::recipients(QStringLiteral("ops@example.com,")),
              QStringList{QStringLiteral("ops@example.com")});
    QString host;
    int port = 0;
    EXPECT_TRUE(AlertMailer::parseServer(QStringLiteral("mail.example.com"), &host, &port));
    EXPECT_EQ(port, 25);
    EXPECT_TRUE(AlertMailer::parseServer(QStringLiteral("127.0.0.1:2525"), &host, &port));
    EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(port, 2525);
    for (const char* bad :
         {"", "a b", "host:0", "host:70000", "user@host", "host/x", "smtp://host"}) {
        EXPECT_FALSE(AlertMailer::parseServer(QString::fromLatin1(bad), &host, &port)) << bad;
    }
}

TEST_F(OperatorAlertsTest, EmptyPortListRefusesTheAlertPage) {
    clearModems();
    alertsOn();
    ASSERT_TRUE(startCore());
    run(1);
    failOne(0);
    EXPECT_TRUE(hasStatus(QStringLiteral("Error sending an error message to pager: 5559999")));
    failOne(2);
    EXPECT_TRUE(hasStatus(QStringLiteral("Error sending an modem alert to pager: 5559999")));
}

TEST_F(OperatorAlertsTest, EmptyAlertPinTriesNoPageAndSaysNothing) {
    alertsOn();
    setSetting(QStringLiteral("AlertPIN"), QStringLiteral("  "));
    ASSERT_TRUE(startCore());
    run(1);
    failOne(0);
    EXPECT_FALSE(statusTexts().join('|').contains(QStringLiteral("pager: ")));
    EXPECT_EQ(core().pager()->QueueCount(), 0);
}

TEST_F(OperatorAlertsTest, UnreachableMailServerIsReportedAndTheServerGoesOn) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 deadPort = probe.serverPort();
    probe.close();  // nothing listens there now
    setSetting(QStringLiteral("PageFailAlert"), -1);
    setSetting(QStringLiteral("ALertByEMail"), -1);
    setSetting(QStringLiteral("AlertEMailAddress"), QStringLiteral("ops@example.com"));
    setSetting(QStringLiteral("AlertSMTPServer"), QStringLiteral("127.0.0.1:%1").arg(deadPort));
    ASSERT_TRUE(startCore());
    run(1);
    QSignalSpy spy(&mailer, &AlertMailer::mailFinished);
    failOne(0);
    EXPECT_TRUE(hasStatus(QStringLiteral("Error message e-mailed to: ops@example.com")));
    ASSERT_TRUE(waitForMails(spy, 1));
    EXPECT_FALSE(spy[0][0].toBool());
    EXPECT_TRUE(statusTexts().last().startsWith(
        QStringLiteral("Error: alert e-mail to ops@example.com, was not sent")))
        << statusTexts().last().toStdString();
    // Queue checks go on.
    writeQueueFile(QStringLiteral("A1.PMF"), QueueLines().lines());
    run(7);
    EXPECT_TRUE(hasStatus(QStringLiteral("Submitted to queue: Ph#=5551234 PIN=1001 ID=1")));
}

TEST_F(OperatorAlertsTest, SoundFollowsTheOperatorsChoice) {
    setSetting(QStringLiteral("PageFailAlert"), -1);
    setSetting(QStringLiteral("AudioAlert"), -1);
    ASSERT_TRUE(startCore());
    run(1);

    struct Row {
        int atIntervals;
        double listen;
        int wantBeeps;
    };
    // 0 "Only Once"; 1 "Continuously" (every 2 s); 2 "Every Minute".
    const Row rows[] = {{0, 10, 1}, {1, 10, 6}, {2, 125, 3}};
    for (const Row& r : rows) {
        setSetting(QStringLiteral("AtIntervalsTime"), r.atIntervals);
        run(6);  // the settings are reloaded at the next tick
        beeps = 0;
        failOne(0);
        loop.advance(r.listen);
        EXPECT_EQ(beeps, r.wantBeeps) << r.atIntervals;
        core().Command1_Click();  // "Cancel Alert"
        EXPECT_FALSE(core().timer2().isActive());
        const int after = beeps;
        loop.advance(180);
        EXPECT_EQ(beeps, after) << r.atIntervals;
    }
    // "Cancel Alert" with no alert running changes nothing.
    core().Command1_Click();
    EXPECT_FALSE(core().timer2().isActive());
}

}  // namespace
