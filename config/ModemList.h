#pragma once

#include <QString>
#include <QStringList>

// The modem ports of tblModems: listing, the add dialog's checks and the
// removal. A port is stored as "COM" + the number as typed, blanks around it
// removed; the range check reads the typed number leniently, the stored text
// and the duplicate search use the typed text itself (so "05" and "3x" are
// stored as COM05 and COM3x).
namespace vts::modems {

inline const QString kRangeText = QStringLiteral("The new port number must be between 1 and 32");
inline const QString kRangeTitle = QStringLiteral("Error");
inline const QString kDuplicateText = QStringLiteral("That port already exists");
inline const QString kDuplicateTitle = QStringLiteral("Vantrel Server");

// The ComPort texts in table order, blanks around each removed. Throws
// db::DbError.
QStringList load(const QString& dir);

// True when the number at the start of `typed` lies above 0 and at most 32.
bool inRange(const QString& typed);

enum class AddResult { Added, OutOfRange, Duplicate };
// Checks `typed` and adds its row when it passes. Throws db::DbError.
AddResult add(const QString& dir, const QString& typed);

// Deletes the first row whose ComPort equals `comPort`; false when none.
// Throws db::DbError.
bool remove(const QString& dir, const QString& comPort);

// The port number the server takes from a ComPort text (the number read
// from the text after its first three characters).
double serverPortNumber(const QString& comPort);

// A warning for ports the server cannot use (numbers outside 1 to 9, or
// more than eight ports); empty when every listed port is usable.
QString serverWarning(const QStringList& ports);

}  // namespace vts::modems
