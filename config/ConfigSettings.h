#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

// The settings row of tblConfig as the settings editor sees it: every field
// the editor loads and saves, in the order it writes them, with its kind.
// Values travel as a field-name keyed map: a choice as int (list position,
// -1 none), a flag as bool, a text as QString, a number entered as text as
// the QString shown in its box.
namespace vts::settings {

enum class Kind { Choice, Flag, Text, Number };

struct Field {
    QString name;
    Kind kind;
};

using Values = QHash<QString, QVariant>;

// The editor's fields of tblConfig, CheckTime first, PMFExpireDays last.
const std::vector<Field>& fields();

// Reads the first row of tblConfig from the store in `dir`. A flag reads
// true exactly when it holds a non-zero value; a null flag, text or number
// reads false, "" or "". A null choice reads -1. Throws db::DbError.
Values load(const QString& dir);

// Writes `values` into the first row, field by field in order, in one
// update: choices as positions, flags as 1/0, texts unchanged. A number
// field takes its text: blank stores null, a number not below 0 stores that
// number; any other text (a negative number among them) leaves the stored
// value as it was and its field name is returned, so the caller can tell
// the operator (numberProblem()). Throws db::DbError.
QStringList save(const QString& dir, const Values& values);

// The position to store for a drop-down list: the shown position, or the
// loaded one when nothing is shown (a stored value outside the list is
// shown as no entry and kept as it was).
int choiceToStore(int loaded, int shown);

// True for a blank text or one that reads completely as a finite decimal
// number.
bool isNumberText(const QString& text);

// Why the text of the number field labelled `label` cannot be stored, as a
// message for the operator; empty when it can (blank, or a number not below
// 0: a negative number of days would make the server delete every message
// file it keeps).
QString numberProblem(const QString& label, const QString& text);

}  // namespace vts::settings
