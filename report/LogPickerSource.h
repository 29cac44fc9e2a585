#pragma once

#include <QString>
#include <QStringList>

// The entries of the sender and department pickers: the distinct values of
// one tblLog field, in order. A missing value shows as an empty entry.
namespace vts::report {

enum class PickerField { Sender, Department };

// Throws db::DbError when the log cannot be read.
QStringList distinctLogValues(const QString& dir, PickerField field);

}  // namespace vts::report
