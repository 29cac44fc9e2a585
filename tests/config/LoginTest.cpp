#include "ConfigProgram.h"
#include "ConfigTestSupport.h"
#include "LoginSettings.h"
#include "SingleCopyGuard.h"
#include "frmChangePassword.h"
#include "frmConfigLogin.h"
#include "frmLogin.h"

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

class Login : public test::ConfigWindowTest {};

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

TEST_F(Login, ALockThatCannotBeMadeIsNamedNotTakenForAnotherCopy) {
    // Something that is no lock file sits where the lock goes, and no copy runs.
    ASSERT_TRUE(QDir().mkpath(path(login::kLockName)));
    ConfigProgram program(context);
    EXPECT_FALSE(program.start());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const QString text = dialogs.shown()[0].text;
    EXPECT_TRUE(text.startsWith("Vantrel Server Configuration cannot start.\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(dir()))) << text.toStdString();
    EXPECT_FALSE(text.contains("already running"));
    EXPECT_EQ(dialogs.shown()[0].title, "Error");
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

class LoginSettingsDialog : public test::ConfigWindowTest {};

TEST_F(LoginSettingsDialog, NewPasswordIsStoredInCapitalsAndStillLogsIn) {
    setConfig("SystemPassword", "old");
    setConfig("EnableLoginPassword", QVariant());
    setConfig("AutoLogoutMinutes", 10);
    auto w = openMain();
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
    auto w = openMain();
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
    auto w = openMain();
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

TEST_F(LoginSettingsDialog, PasswordBoxesAgreeWithTheStoredFieldsWidth) {
    ASSERT_EQ(login::passwordWidth(), 50);
    frmLogin loginWindow(context, "X");
    EXPECT_EQ(loginWindow.SystemPassword_c()->maxLength(), 50);
    auto w = openMain();
    EXPECT_EQ(w->SystemPassword_c()->maxLength(), 50);
    frmChangePassword change(context, *w->SystemPassword_c());
    for (QLineEdit* box :
         {change.OldPassword_c(), change.NewPassword_c(), change.ConfirmPassword_c()})
        EXPECT_EQ(box->maxLength(), 50) << box->objectName().toStdString();
    // A pasted text longer than the box is cut the same way in every box, so
    // what was set is what logs in.
    change.NewPassword_c()->setText(QString(60, 'k'));
    EXPECT_EQ(change.NewPassword_c()->text(), QString(50, 'k'));
    loginWindow.SystemPassword_c()->setText(QString(60, 'k'));
    EXPECT_EQ(loginWindow.SystemPassword_c()->text(), QString(50, 'k'));
}

TEST_F(LoginSettingsDialog, APasswordLongerThanTheFieldInCapitalsIsRefusedBeforeAnythingIsStored) {
    struct Case {
        const char* name;
        QString typed;
        bool stored;
    };
    const Case cases[] = {
        {"FiftyLetters", QString(50, 'a'), true},
        {"FiftyCharactersWithBlanksAround", "  " + QString(46, 'b') + "  ", true},
        // "ß" is one letter, "SS" in capitals: 26 of them make 52.
        {"GrowsInCapitals", QString(26, QChar(0x00DF)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setConfig("SystemPassword", "OLD");
        dialogs.clear();
        auto w = openMain();
        onModal([&](QWidget* d) {
            onModal([&](QWidget* cp) {
                child<QLineEdit>(cp, "OldPassword_c")->setText("old");
                child<QLineEdit>(cp, "NewPassword_c")->setText(c.typed);
                child<QLineEdit>(cp, "ConfirmPassword_c")->setText(c.typed);
                child<QPushButton>(cp, "Command1")->click();
                EXPECT_EQ(cp->isVisible(), !c.stored);
                if (cp->isVisible()) child<QPushButton>(cp, "Command2")->click();
            });
            child<QPushButton>(d, "cmdChangePW")->click();
            child<QPushButton>(d, "cmdOkay")->click();
        });
        w->ChangePassword_c_Click();
        const QString expected = c.stored ? login::normalised(c.typed) : QStringLiteral("OLD");
        EXPECT_EQ(w->SystemPassword_c()->text(), expected);
        EXPECT_EQ(config("SystemPassword").toString(), expected);
        if (c.stored) {
            EXPECT_TRUE(dialogs.shown().empty());
        } else {
            ASSERT_EQ(dialogs.shown().size(), 1u);
            EXPECT_EQ(dialogs.shown()[0].text,
                      "The new password is too long. A password can have at most 50 characters.");
            EXPECT_EQ(dialogs.shown()[0].title, "Error");
        }
        w->Exit_c_Click();
        EXPECT_EQ(config("SystemPassword").toString(), expected);

        // After a restart the password as typed logs in.
        setConfig("EnableLoginPassword", 1);
        ConfigProgram program(context);
        ASSERT_TRUE(program.start());
        typeAndOk(*program.login(), c.stored ? c.typed.toLower() : QStringLiteral("old"));
        ASSERT_NE(program.main(), nullptr);
        program.main()->hide();
    }
}

TEST_F(LoginSettingsDialog, IdleMinutesThatAreNotANumberKeepTheDialogOpen) {
    auto w = openMain();
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
