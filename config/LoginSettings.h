#pragma once

#include <QString>
#include <QVariant>

// The login fields of tblConfig and the password rules: passwords compare
// trimmed and upper-cased on both sides; a null password is the empty one;
// a null EnableLoginPassword asks for the login at start but shows as an
// unticked box in the login settings.
namespace vts::login {

inline const QString kAlreadyRunningText =
    QStringLiteral("Vantrel Server Configuration is already running");
inline const QString kProgramName = QStringLiteral("Vantrel Server Configuration");
inline const QString kInvalidPasswordText = QStringLiteral("Invalid Password");
inline const QString kOldPasswordText = QStringLiteral("The old password is invalid");
inline const QString kErrorTitle = QStringLiteral("Error");
// Shown (with the width) when a new password in capitals is longer than the
// store's SystemPassword field.
inline const QString kPasswordTooLongText =
    QStringLiteral("The new password is too long. A password can have at most %1 characters.");
// The lock file that keeps one copy per working directory.
inline const QString kLockName = QStringLiteral("vtsconfig.lock");

struct Row {
    QVariant enabled;     // EnableLoginPassword as stored (may be null)
    QString password;     // SystemPassword, null read as ""
    QString idleMinutes;  // AutoLogoutMinutes as text, null read as ""
};

// Reads the login fields of the settings row. Throws db::DbError.
Row read(const QString& dir);

// The login window is shown unless the flag is stored as No.
bool loginRequired(const Row& row);
// The "Enable Login Password" box is ticked only for a stored Yes.
bool enabledBox(const Row& row);

QString normalised(const QString& password);
// The width of the SystemPassword field: the most characters every
// password box takes and the longest password that is stored whole.
int passwordWidth();
// True when the password, as it would be stored (trimmed, in capitals,
// which can lengthen some letters), fits the SystemPassword field.
bool passwordFits(const QString& typed);
bool passwordsMatch(const QString& typed, const QString& stored);

// True for a blank text or a whole number of minutes from 0 to 32767.
bool validIdleMinutes(const QString& text);

// Stores the idle minutes (blank stores null) and the flag in one update.
// Throws db::DbError.
void write(const QString& dir, const QString& idleMinutes, bool enabled);

}  // namespace vts::login
