#include "ConfigTestSupport.h"
#include "ReportsPageActions.h"
#include "frmDirectDial.h"
#include "frmNewPort.h"
#include "frmPendingFilesStatus.h"
#include "frmSMTP.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace vts;
using test::child;
using test::onModal;

namespace {

class MainWindow : public test::ConfigWindowTest {
protected:
    static QStringList entries(QComboBox* box) {
        QStringList list;
        for (int i = 0; i < box->count(); ++i) list << box->itemText(i);
        return list;
    }
    static QColor buttonColour(frmMain& w, int index) {
        return child<QPushButton>(&w, QStringLiteral("SwitchFrame_c_%1").arg(index).toLatin1())
            ->palette()
            .color(QPalette::Button);
    }
    static bool pageShown(frmMain& w, const char* frame) {
        return !child<QFrame>(&w, frame)->isHidden();
    }
};

TEST_F(MainWindow, StartsOnServerSetupAndSwitchesPages) {
    auto w = openMain();
    EXPECT_EQ(w->windowTitle(), "Vantrel Server 3.0");
    EXPECT_EQ(w->size(), QSize(605, 422));
    for (const char* f :
         {"FrameSetup_c", "FrameAlertPaging_c", "FrameReports_c", "FrameConfigureClient_c"})
        EXPECT_EQ(child<QFrame>(w.get(), f)->pos(), QPoint(0, 33)) << f;
    EXPECT_TRUE(pageShown(*w, "FrameSetup_c"));
    EXPECT_FALSE(pageShown(*w, "FrameAlertPaging_c"));
    EXPECT_EQ(buttonColour(*w, 1), QColor(0xFFFFFF));
    EXPECT_EQ(buttonColour(*w, 2), QColor(0xC0C0C0));

    child<QPushButton>(w.get(), "SwitchFrame_c_2")->click();
    EXPECT_TRUE(pageShown(*w, "FrameAlertPaging_c"));
    EXPECT_FALSE(pageShown(*w, "FrameSetup_c"));
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(buttonColour(*w, i), i == 2 ? QColor(0xFFFFFF) : QColor(0xC0C0C0)) << i;
    w->SwitchFrame_c_Click(5);  // outside the array: nothing changes
    EXPECT_TRUE(pageShown(*w, "FrameAlertPaging_c"));
    w->SwitchFrame_c_Click(4);
    EXPECT_TRUE(pageShown(*w, "FrameConfigureClient_c"));
}

TEST_F(MainWindow, ListsHoldTheirEntriesInOrder) {
    auto w = openMain();
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "CheckTime_c")),
              QStringList({"Continuously", "1 Minute", "5 Minute", "10 Minute", "15 Minute",
                           "30 Minute", "1 Hour", "1 Day"}));
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "DelayBeforeRetries_c")),
              QStringList({"No Delay", "1 Second", "10 Seconds", "30 Seconds", "1 Minute"}));
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "DialingDelay_c")).size(), 6);
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "NumberOfRetries_c")).last(), "10");
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "TimeOut_c")).last(), "120 Seconds");
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "AtIntervalsTime_c")),
              QStringList({"Only Once", "Continuously", "Every Minute"}));
    EXPECT_EQ(entries(w->Status_c()), QStringList({"All Messages", "Successful Messages",
                                                   "Failed Messages", "Cancelled Messages"}));
    EXPECT_EQ(entries(w->cboReportType()), QStringList({"Normal", "Full Text", "Summary"}));
    EXPECT_EQ(w->SortBy_c()->itemText(3), "Sort By TAP Number");
    EXPECT_EQ(w->SortBy_c()->currentIndex(), 0);
    ASSERT_EQ(w->ReportList_c()->count(), 1);
    EXPECT_EQ(w->ReportList_c()->item(0)->text(), "Message Log Report");
    EXPECT_EQ(entries(child<QComboBox>(w.get(), "cboTransmissionMethod")),
              QStringList({"Direct Dial", "Internet"}));
    EXPECT_EQ(child<QComboBox>(w.get(), "cboTransmissionMethod")->currentIndex(), -1);
    EXPECT_EQ(w->print_c(2)->text(), "Print");
}

TEST_F(MainWindow, StoredChoicesShowAndSaveBackUnchanged) {
    setConfig("CheckTime", 7);
    setConfig("NumberOfRetries", 11);  // outside the list
    setConfig("AlertByPage", -1);
    setConfig("VisualAlert", QVariant());
    auto w = openMain();
    EXPECT_EQ(child<QComboBox>(w.get(), "CheckTime_c")->currentText(), "1 Day");
    EXPECT_EQ(child<QComboBox>(w.get(), "NumberOfRetries_c")->currentIndex(), -1);
    EXPECT_TRUE(child<QCheckBox>(w.get(), "AlertByPage_c")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(w.get(), "VisualAlert_c")->isChecked());
    child<QComboBox>(w.get(), "Speaker_c")->setCurrentIndex(3);
    EXPECT_TRUE(w->SaveConfig());
    EXPECT_EQ(config("CheckTime").toInt(), 7);
    EXPECT_EQ(config("NumberOfRetries").toInt(), 11);
    EXPECT_EQ(config("Speaker").toInt(), 3);
    EXPECT_EQ(config("VisualAlert").toInt(), 0);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindow, DirectDialPinReachesTheStoreOnExit) {
    auto w = openMain();
    auto* method = child<QComboBox>(w.get(), "cboTransmissionMethod");
    method->setCurrentIndex(0);
    onModal([](QWidget* d) {
        ASSERT_EQ(d->objectName(), "frmDirectDial");
        EXPECT_EQ(d->windowTitle(), "Send Via Direct Dial");
        child<QLineEdit>(d, "AlertPIN_c")->setText("55501");
        child<QPushButton>(d, "cmdOK")->click();
    });
    child<QPushButton>(w.get(), "cmdConfigure")->click();
    EXPECT_FALSE(w->directDial()->isVisible());
    child<QPushButton>(w.get(), "Exit_c")->click();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(config("AlertPIN").toString(), "55501");
}

TEST_F(MainWindow, SmtpCopyIsShownButNotCopiedBack) {
    setConfig("AlertSMTPServer", "mail.example.com");
    auto w = openMain();
    auto* method = child<QComboBox>(w.get(), "cboTransmissionMethod");
    method->setCurrentIndex(1);
    onModal([](QWidget* d) {
        ASSERT_EQ(d->objectName(), "frmSMTP");
        auto* server = child<QLineEdit>(d, "AlertSMTPServer_c");
        EXPECT_EQ(server->text(), "mail.example.com");
        server->setText("changed.example.com");
        child<QLineEdit>(d, "AlertPagerEMailAddress_c")->setText("pager@example.com");
        child<QPushButton>(d, "cmdOK")->click();
    });
    w->cboTransmissionMethod_Click();
    w->close();  // the title-bar close saves as Exit does
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(config("AlertSMTPServer").toString(), "mail.example.com");
    EXPECT_EQ(config("AlertPagerEMailAddress").toString(), "pager@example.com");
}

TEST_F(MainWindow, ConfigureWithoutMethodAndBlankQueueLocationOnlyWarn) {
    auto w = openMain();
    child<QPushButton>(w.get(), "cmdConfigure")->click();
    child<QLineEdit>(w.get(), "MessageQueueLocation_c")->clear();
    child<QPushButton>(w.get(), "cmdPendingFilesStatus")->click();
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].text, "Please select Direct Dial or Internet.");
    EXPECT_EQ(dialogs.shown()[0].title, "");
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::None);
    EXPECT_EQ(dialogs.shown()[1].text, "Message Queue Location cannot be blank.");
    EXPECT_EQ(dialogs.shown()[1].title, "Error");
    EXPECT_EQ(dialogs.shown()[1].icon, Dialogs::Icon::Critical);
}

TEST_F(MainWindow, PendingFilesStatusUsesTheUnsavedQueueLocation) {
    writeFile("other/Failed/A1.PMF", QByteArray(1001, 'x'));
    auto w = openMain();
    child<QLineEdit>(w.get(), "MessageQueueLocation_c")->setText(path("other"));
    QStringList texts;
    onModal([&texts](QWidget* d) {
        auto* s = qobject_cast<frmPendingFilesStatus*>(d);
        ASSERT_NE(s, nullptr);
        for (int i = 1; i <= 5; ++i) texts << s->label(i)->text();
        child<QPushButton>(d, "cmdClose")->click();
    });
    w->cmdPendingFilesStatus_Click();
    EXPECT_EQ(texts, QStringList({"Number of Pending:  0 files", "Number of Sent:  0 files",
                                  "Number of Failed:  1 files", "Total Number:  1 files",
                                  "File size total:  1.001 KB"}));
}

TEST_F(MainWindow, AddPortDialogRefusesAndAddsAsTyped) {
    addModemRow("COM5");
    auto w = openMain();
    onModal([this](QWidget* d) {
        auto* number = child<QLineEdit>(d, "NewPortNumber_c");
        auto* add = child<QPushButton>(d, "Command2");
        number->setText("33");
        add->click();
        number->setText("5");
        add->click();
        EXPECT_TRUE(d->isVisible());
        number->setText(" 12 ");
        add->click();
        EXPECT_FALSE(d->isVisible());
        EXPECT_EQ(dialogs.texts(), QStringList({"The new port number must be between 1 and 32",
                                                "That port already exists"}));
    });
    w->Command2_Click();
    ASSERT_EQ(w->AvailableModems_c()->count(), 2);
    EXPECT_EQ(w->AvailableModems_c()->item(1)->text(), "COM12");
    EXPECT_TRUE(child<QLabel>(w.get(), "lblModemWarning")->text().contains("COM12"));
    EXPECT_EQ(dialogs.shown()[1].title, "Vantrel Server");

    onModal([](QWidget* d) { child<QPushButton>(d, "Command1")->click(); });
    w->Command2_Click();
    EXPECT_EQ(rowCount("tblModems"), 2);
}

TEST_F(MainWindow, RemovePortNeedsASelectionAndAsksNothing) {
    for (const char* p : {"COM1", "COM3"}) addModemRow(p);
    auto w = openMain();
    w->Command3_Click();
    EXPECT_EQ(rowCount("tblModems"), 2);
    w->AvailableModems_c()->setCurrentRow(1);
    child<QPushButton>(w.get(), "Command3")->click();
    ASSERT_EQ(w->AvailableModems_c()->count(), 1);
    EXPECT_EQ(w->AvailableModems_c()->item(0)->text(), "COM1");
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(MainWindow, MissingStoreEndsTheProgram) {
    auto w = openMain();
    ASSERT_TRUE(QFile::remove(path("VTSCFG.MDB")));
    w->LoadModems();
    EXPECT_EQ(ended, 1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, configstore::kMissingText);
    w->close();
    EXPECT_EQ(ended, 1);  // leaving after the end does not save or end again
    EXPECT_FALSE(QFile::exists(path("VTSCFG.MDB")));
}

TEST_F(MainWindow, ABadExpireDaysIsReportedAndTheRestSaved) {
    auto w = openMain();
    child<QLineEdit>(w.get(), "txtPMFExpireDays")->setText("soon");
    child<QComboBox>(w.get(), "TimeOut_c")->setCurrentIndex(4);
    EXPECT_TRUE(w->SaveConfig());
    EXPECT_EQ(config("TimeOut").toInt(), 4);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, "Warning");
}

TEST_F(MainWindow, ExpireDaysMustBeANumberNotBelowZero) {
    // A negative number of days would have the server delete every kept
    // message file at every check: it is refused like a text that is no number.
    struct Case {
        const char* typed;
        QVariant stored;      // what the store holds afterwards (14 = kept)
        const char* message;  // part of the warning, "" for none
    };
    const Case cases[] = {
        {"-1", 14, "Message file expire days cannot be negative; \"-1\" was not saved."},
        {" -0.5 ", 14, "cannot be negative"},
        {"inf", 14, "is not a number of days"},
        {"nan", 14, "is not a number of days"},
        {"0", 0, ""},
        {"-0", 0, ""},
        {" 7 ", 7, ""},
        {"", QVariant(), ""},
    };
    auto w = openMain();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        setConfig("PMFExpireDays", 14);
        dialogs.clear();
        child<QLineEdit>(w.get(), "txtPMFExpireDays")->setText(QString::fromLatin1(c.typed));
        EXPECT_TRUE(w->SaveConfig());
        if (c.stored.isValid())
            EXPECT_DOUBLE_EQ(config("PMFExpireDays").toDouble(), c.stored.toDouble());
        else
            EXPECT_TRUE(config("PMFExpireDays").isNull());
        if (*c.message) {
            ASSERT_EQ(dialogs.shown().size(), 1u);
            EXPECT_TRUE(dialogs.shown()[0].text.contains(QString::fromLatin1(c.message)))
                << dialogs.shown()[0].text.toStdString();
            EXPECT_EQ(dialogs.shown()[0].title, "Warning");
        } else {
            EXPECT_TRUE(dialogs.shown().empty());
        }
    }
}

TEST_F(MainWindow, AFailedSaveOnExitAsksBeforeLeaving) {
    auto w = openMain();
    {
        auto db = configstore::open(dir());
        db->execute("drop table tblConfig");
    }
    dialogs.queueAnswer(Dialogs::Answer::Ok);
    dialogs.queueAnswer(Dialogs::Answer::No);
    w->Exit_c_Click();
    EXPECT_EQ(ended, 0);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].title, "Error");
    EXPECT_EQ(dialogs.shown()[1].buttons, Dialogs::Buttons::YesNo);
    w->close();  // answered Yes by default: the program ends
    EXPECT_EQ(ended, 1);
}

TEST_F(MainWindow, MissingStoreAtStartEndsBeforeLoadingSettings) {
    ASSERT_TRUE(QFile::remove(path("VTSCFG.MDB")));
    frmMain w(context);
    EXPECT_FALSE(w.Form_Load());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(dialogs.texts(), QStringList({configstore::kMissingText}));
}

struct RecordingActions : ReportsPageActions {
    QStringList calls;
    void print_c_Click(int index) override { calls << QStringLiteral("print %1").arg(index); }
    void SelectSender_c_Click() override { calls << "sender"; }
    void cmdSelectDepartment_Click() override { calls << "department"; }
    void PurgeDatabase_c_Click() override { calls << "purge"; }
};

TEST_F(MainWindow, ReportsPageButtonsForwardToTheActions) {
    auto w = openMain();
    w->print_c(0)->click();  // nothing set: nothing happens
    auto actions = std::make_unique<RecordingActions>();
    auto* rec = actions.get();
    w->setReportsActions(std::move(actions));
    w->print_c(2)->click();
    w->SelectSender_c()->click();
    w->cmdSelectDepartment()->click();
    w->PurgeDatabase_c()->click();
    EXPECT_EQ(rec->calls, QStringList({"print 2", "sender", "department", "purge"}));
}

}  // namespace
