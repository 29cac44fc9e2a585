#pragma once

#include <QDate>
#include <QString>

#include <optional>

// The operator's report criteria and the tables that turn them into an
// engine run: the selection formula with its readable description, the
// layout file by report type, and the title and sort field by sort choice.
// Shared by the Reports page and the vtsreport command, so both build the
// very same formula from the very same criteria.
namespace vts::report {

struct Criteria {
    bool selectDate = false;
    QDate from;
    QDate to;
    int statusIndex = 0;  // 0 all, 1 successful, 2 failed, 3 cancelled
    QString statusText;   // the text of the chosen status entry
    QString sender;       // as typed; trimmed for the formula only
    QString department;
};

struct Selection {
    QString formula;
    QString description;
};

// Builds the formula and description in the fixed order date range, status,
// sender, department. A quote inside a sender or department is doubled in the
// formula, so it stays one quoted text. The description shows the dates as
// the date pickers of the page show them (criteriaDateText). The Reports page
// and vtsreport both build their selection here and nowhere else.
Selection buildSelection(const Criteria& c);

// How the page's date pickers show a date, and so how the description
// gives it: the en-US short date, "7/1/1998".
inline const QString kCriteriaDateFormat = QStringLiteral("M/d/yyyy");
QString criteriaDateText(const QDate& d);

// Report types in list order and their layout files; nullopt outside 0..2.
QStringList reportTypes();
std::optional<QString> layoutFileForType(int index);

struct SortChoice {
    QString entry;
    QString title;
    QString field;
};
// Sort choices in list order; nullopt outside 0..4.
QStringList sortEntries();
std::optional<SortChoice> sortChoice(int index);

QStringList statusEntries();

inline const QString kReportWindowTitle = QStringLiteral("Vantrel Report");
inline const QString kMessageLogReport = QStringLiteral("Message Log Report");
inline const QString kDataFile = QStringLiteral("VTSLog.MDB");

}  // namespace vts::report
