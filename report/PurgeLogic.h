#pragma once

#include <QDate>
#include <QString>

namespace vts {
class Dialogs;
}

// Removing rows from the message log: the date check, the condition and the
// statement in the desktop-database dialect, the confirmation questions, and
// the delete itself, which removes exactly the matching rows or, on any store
// error, none.
namespace vts::report {

struct PurgeCriteria {
    bool selectDate = false;
    QDate from;
    QDate to;
    QString sender;  // as typed
};

// The condition without " where " ("" for no criteria). A quote inside the
// sender is doubled, so the pattern stays one quoted text, and "[" is written
// "[[]" so it stands for itself.
QString purgeCondition(const PurgeCriteria& c);
// "delete * from tblLog", with " where " and the condition when there is one.
QString purgeStatement(const PurgeCriteria& c);

class PurgeLogic {
public:
    enum class Outcome { DateError, Declined, Purged, Failed };

    PurgeLogic(QString workingDirectory, Dialogs& dialogs);

    // The whole of pressing Purge. Purged means the dialog closes.
    Outcome purge(const PurgeCriteria& c);
    // The number of rows purge(c) would delete now, counted by running its
    // statement and taking it back. Throws db::DbError as the store does.
    static int countMatching(const QString& workingDirectory, const PurgeCriteria& c);

    int lastDeleted() const { return m_deleted; }
    QString lastStatement() const { return m_statement; }

private:
    QString m_dir;
    Dialogs& m_dialogs;
    int m_deleted = 0;
    QString m_statement;
};

}  // namespace vts::report
