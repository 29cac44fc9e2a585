#include "LogPickerSource.h"

#include "Database.h"

namespace vts::report {

QStringList distinctLogValues(const QString& dir, PickerField field) {
    const QString name =
        field == PickerField::Sender ? QStringLiteral("Sender") : QStringLiteral("Department");
    auto database = db::Database::open(dir, QStringLiteral("VTSLog.mdb"));
    auto rs =
        database->openQuery(QStringLiteral("select distinct %1 from tblLog order by %1").arg(name));
    QStringList values;
    for (; !rs->eof(); rs->moveNext()) {
        values << rs->text(name);
    }
    return values;
}

}  // namespace vts::report
