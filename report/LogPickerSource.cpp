#include "LogPickerSource.h"

#include "Database.h"

namespace vts::report {

QStringList distinctLogValues(const QString& dir, PickerField field) {
    const QString name =
        field == PickerField::Sender ? QStringLiteral("Sender") : QStringLiteral("Department");
    auto database = db::Database::open(dir, QStringLiteral("VTSLog.mdb"));
    // Distinct without regard to letter case, as the pickers always were,
    // over the whole of Unicode: one entry for "Ågren" and "ågren".
    auto rs = database->openQuery(
        QStringLiteral("select min(%1) as %1 from tblLog group by %1%2 order by %1%2")
            .arg(name, db::noCase()));
    QStringList values;
    for (; !rs->eof(); rs->moveNext()) {
        values << rs->text(name);
    }
    return values;
}

}  // namespace vts::report
