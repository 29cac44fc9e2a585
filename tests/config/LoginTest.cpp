#include "ConfigProgram.h"
#include "ConfigTestSupport.h"
#include "LoginSettings.h"
#include "SingleCopyGuard.h"
#include "frmConfigLogin.h"
#include "frmLogin.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

using namespace vts;
using test::child;
using test::onModal;

namespace {

void typeAndOk(frmLogin& login, const QString& password) {
    login.SystemPassword_c()->setText(password);
    child<QPushButton>(&login, "Command1")->click();
}

class Login : public test::ConfigStoreTest {};

TEST_F(Login, SecondCopyInTheSameFolderIsRefused) {
    SingleCopyGuard first(dir(), login::kLockName);
    ASSERT_TRUE(first.acquire());
    ConfigProgram program(context);
    EXPECT_FALSE(program.start());
    EXPECT_EQ(dialogs.texts(), QStringList({"Vantrel Server Configuration is already running"}));
    EXPECT_EQ(dialogs.shown()[0].title, "Error");
    EXPECT_EQ(program.login(), nullptr);
    EXPECT_EQ(program.main(), nullptr);
}

TEST_F(Login, MissingStoreEndsBeforeAnyWindow) {
    ASSERT_TRUE(QFile::remove(path("VTSCFG.MDB")));
    ConfigProgram program(context);
    EXPECT_FALSE(program.start());
    EXPECT_EQ(dialogs.texts(), QStringList({configstore::kMissingText}));
    EXPECT_EQ(dialogs.shown()[0].title, "Vantrel Server");
    EXPECT_EQ(program.main(), nullptr);
    EXPECT_FALSE(QFile::exists(path("VTSCFG.MDB")));
}

TEST_F(Login, DisabledLoginOpensTheMainWindowAtOnce) {
    setConfig("EnableLoginPassword", 0);
    ConfigProgram program(context);
    ASSERT_TRUE(program.start());
    EXPECT_EQ(program.login(), nullptr);
    ASSERT_NE(program.main(), nullptr);
    EXPECT_TRUE(program.main()->isVisible());
    program.main()->hide();
}

TEST_F(Login, PasswordIgnoresCaseAndBlanksWithUnlimitedAttempts) {
    setConfig("EnableLoginPassword", QVariant());  // null asks for the login
    setConfig("SystemPassword", "Secret");
    ConfigProgram program(context);
    ASSERT_TRUE(program.start());
    ASSERT_NE(program.login(), nullptr);
    EXPECT_EQ(program.login()->windowTitle(), "Login");
    EXPECT_EQ(program.login()->SystemPassword_c()->echoMode(), QLineEdit::Password);
    for (int i = 0; i < 5; ++i) typeAndOk(*program.login(), "secre");
    EXPECT_EQ(dialogs.shown().size(), 5u);
    EXPECT_EQ(dialogs.shown()[0].text, "Invalid Password");
    EXPECT_EQ(program.login()->SystemPassword_c()->text(), "secre");
    EXPECT_EQ(program.main(), nullptr);
    typeAndOk(*program.login(), "  sEcReT ");
    EXPECT_FALSE(program.login()->isVisible());
    ASSERT_NE(program.main(), nullptr);
    EXPECT_TRUE(program.main()->isVisible());
    program.main()->hide();
    EXPECT_EQ(ended, 0);
}

TEST_F(Login, NullPasswordAcceptsAnEmptyBoxAndCancelEnds) {
    setConfig("EnableLoginPassword", -1);
    setConfig("SystemPassword", QVariant());
    {
        ConfigProgram program(context);
        ASSERT_TRUE(program.start());
        typeAndOk(*program.login(), "");
        ASSERT_NE(program.main(), nullptr);
        program.main()->hide();
    }
    ConfigProgram again(context);
    ASSERT_TRUE(again.start());
    child<QPushButton>(again.login(), "Command2")->click();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(again.main(), nullptr);
}

class LoginSettingsDialog : public test::ConfigStoreTest {
protected:
    std::unique_ptr<frmMain> open() {
        auto w = std::make_unique<frmMain>(context);
        EXPECT_TRUE(w->Form_Load());
        return w;
    }
};

TEST_F(LoginSettingsDialog, NewPasswordIsStoredInCapitalsAndStillLogsIn) {
    setConfig("SystemPassword", "old");
    setConfig("EnableLoginPassword", QVariant());
    setConfig("AutoLogoutMinutes", 10);
    auto w = open();
    onModal([](QWidget* d) {
        EXPECT_FALSE(child<QCheckBox>(d, "cbEnablePassword")->isChecked());  // null shows unticked
        EXPECT_EQ(child<QLineEdit>(d, "txtIdleMinute")->text(), "10");
        onModal([](QWidget* c) {
            EXPECT_EQ(c->windowTitle(), "Change Password");
            child<QLineEdit>(c, "OldPassword_c")->setText(" OLD ");
            child<QLineEdit>(c, "NewPassword_c")->setText("new one");
            child<QLineEdit>(c, "ConfirmPassword_c")->setText("NEW ONE ");
            child<QPushButton>(c, "Command1")->click();
        });
        child<QPushButton>(d, "cmdChangePW")->click();
        child<QCheckBox>(d, "cbEnablePassword")->setChecked(true);
        child<QLineEdit>(d, "txtIdleMinute")->clear();
        child<QPushButton>(d, "cmdOkay")->click();
    });
    w->ChangePassword_c_Click();
    EXPECT_FALSE(w->m_ConfigLoginCancelled);
    EXPECT_EQ(config("SystemPassword").toString(), "NEW ONE");
    EXPECT_NE(config("EnableLoginPassword").toInt(), 0);
    EXPECT_TRUE(config("AutoLogoutMinutes").isNull());
    EXPECT_TRUE(dialogs.shown().empty());
    w->hide();

    ConfigProgram program(context);
    ASSERT_TRUE(program.start());
    typeAndOk(*program.login(), "new one");
    EXPECT_NE(program.main(), nullptr);
    program.main()->hide();
}

TEST_F(LoginSettingsDialog, WrongOldPasswordAndUnmatchedConfirmationChangeNothing) {
    setConfig("SystemPassword", "OLD");
    auto w = open();
    onModal([this](QWidget* d) {
        onModal([this](QWidget* c) {
            child<QLineEdit>(c, "OldPassword_c")->setText("wrong");
            child<QPushButton>(c, "Command1")->click();
            EXPECT_TRUE(c->isVisible());
            EXPECT_EQ(dialogs.texts(), QStringList({"The old password is invalid"}));
            child<QLineEdit>(c, "OldPassword_c")->setText("old");
            child<QLineEdit>(c, "NewPassword_c")->setText("a");
            child<QLineEdit>(c, "ConfirmPassword_c")->setText("b");
            child<QPushButton>(c, "Command1")->click();
            EXPECT_FALSE(c->isVisible());
        });
        child<QPushButton>(d, "cmdChangePW")->click();
        child<QPushButton>(d, "cmdCancel")->click();
    });
    w->ChangePassword_c_Click();
    EXPECT_TRUE(w->m_ConfigLoginCancelled);
    EXPECT_EQ(w->SystemPassword_c()->text(), "OLD");
    EXPECT_EQ(dialogs.shown().size(), 1u);
}

TEST_F(LoginSettingsDialog, CancelAfterAChangeLeavesTheNewPasswordUnsavedUntilExit) {
    setConfig("SystemPassword", "");
    setConfig("AutoLogoutMinutes", 5);
    auto w = open();
    onModal([](QWidget* d) {
        onModal([](QWidget* c) {
            child<QLineEdit>(c, "NewPassword_c")->setText("pw");
            child<QLineEdit>(c, "ConfirmPassword_c")->setText("pw");
            child<QPushButton>(c, "Command1")->click();
        });
        child<QPushButton>(d, "cmdChangePW")->click();
        child<QLineEdit>(d, "txtIdleMinute")->setText("99");
        child<QPushButton>(d, "cmdCancel")->click();
    });
    w->ChangePassword_c_Click();
    EXPECT_EQ(config("SystemPassword").toString(), "");
    EXPECT_EQ(config("AutoLogoutMinutes").toInt(), 5);
    w->Exit_c_Click();
    EXPECT_EQ(config("SystemPassword").toString(), "PW");
}

TEST_F(LoginSettingsDialog, IdleMinutesThatAreNotANumberKeepTheDialogOpen) {
    auto w = open();
    onModal([this](QWidget* d) {
        child<QLineEdit>(d, "txtIdleMinute")->setText("soon");
        child<QPushButton>(d, "cmdOkay")->click();
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(dialogs.shown().size(), 1u);
        child<QPushButton>(d, "cmdCancel")->click();
    });
    w->ChangePassword_c_Click();
    EXPECT_TRUE(w->m_ConfigLoginCancelled);
}

}  // namespace
