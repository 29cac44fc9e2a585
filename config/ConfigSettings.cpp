#include "ConfigSettings.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "RowEdit.h"

#include <QLocale>

namespace vts::settings {

const std::vector<Field>& fields() {
    static const std::vector<Field> list = {
        {QStringLiteral("CheckTime"), Kind::Choice},
        {QStringLiteral("DialingDelay"), Kind::Choice},
        {QStringLiteral("DelayBeforeRetries"), Kind::Choice},
        {QStringLiteral("NumberOfRetries"), Kind::Choice},
        {QStringLiteral("SystemPassword"), Kind::Text},
        {QStringLiteral("MessageQueueLocation"), Kind::Text},
        {QStringLiteral("AlertByPage"), Kind::Flag},
        {QStringLiteral("AlertPIN"), Kind::Text},
        {QStringLiteral("AlertAlphaPhoneNumber"), Kind::Text},
        {QStringLiteral("ALertByEMail"), Kind::Flag},
        {QStringLiteral("AlertEMailAddress"), Kind::Text},
        {QStringLiteral("AlertSMTPServer"), Kind::Text},
        {QStringLiteral("AlertPagePassword"), Kind::Text},
        {QStringLiteral("AlertPagerEMailAddress"), Kind::Text},
        {QStringLiteral("VisualAlert"), Kind::Flag},
        {QStringLiteral("AudioAlert"), Kind::Flag},
        {QStringLiteral("AtIntervalsTime"), Kind::Choice},
        {QStringLiteral("Speaker"), Kind::Choice},
        {QStringLiteral("TimeOut"), Kind::Choice},
        {QStringLiteral("PageFailAlert"), Kind::Flag},
        {QStringLiteral("ModemFailAlert"), Kind::Flag},
        {QStringLiteral("PMFExpireDays"), Kind::Number},
    };
    return list;
}

namespace {

std::unique_ptr<db::Recordset> firstRow(db::Database& db) {
    auto rs = db.openTable(QStringLiteral("tblConfig"));
    if (rs->isEmpty())
        throw db::DbError(QStringLiteral("The settings row is missing from tblConfig"),
                          db.filePath());
    rs->moveFirst();
    return rs;
}

QString numberText(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return QString();
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok) return v.toString();
    return QLocale::c().toString(d, 'g', 15);
}

}  // namespace

Values load(const QString& dir) {
    auto db = configstore::open(dir);
    auto rs = firstRow(*db);
    Values values;
    for (const Field& f : fields()) {
        const QVariant v = rs->value(f.name);
        const bool null = !v.isValid() || v.isNull();
        switch (f.kind) {
            case Kind::Choice:
                values.insert(f.name, null ? -1 : rs->int32(f.name));
                break;
            case Kind::Flag:
                values.insert(f.name, !null && v.toLongLong() != 0);
                break;
            case Kind::Text:
                values.insert(f.name, rs->text(f.name));
                break;
            case Kind::Number:
                values.insert(f.name, numberText(v));
                break;
        }
    }
    rs.reset();
    db->close();
    return values;
}

QStringList save(const QString& dir, const Values& values) {
    QStringList refused;
    auto db = configstore::open(dir);
    auto rs = firstRow(*db);
    {
        db::RowEdit row(*rs, db::RowEdit::Mode::Edit);
        for (const Field& f : fields()) {
            if (!values.contains(f.name)) continue;
            const QVariant v = values.value(f.name);
            switch (f.kind) {
                case Kind::Choice:
                    row.set(f.name, v.toInt());
                    break;
                case Kind::Flag:
                    row.set(f.name, v.toBool() ? 1 : 0);
                    break;
                case Kind::Text:
                    row.set(f.name, v.toString());
                    break;
                case Kind::Number: {
                    const QString text = conv::trim(v.toString());
                    if (text.isEmpty())
                        row.set(f.name, QVariant());
                    else if (numberProblem(f.name, text).isEmpty())
                        row.set(f.name, QLocale::c().toDouble(text));
                    else
                        refused << f.name;
                    break;
                }
            }
        }
        row.commit();
    }
    rs.reset();
    db->close();
    return refused;
}

int choiceToStore(int loaded, int shown) { return shown < 0 ? loaded : shown; }

bool isNumberText(const QString& text) {
    const QString t = conv::trim(text);
    if (t.isEmpty()) return true;
    bool ok = false;
    const double d = QLocale::c().toDouble(t, &ok);
    return ok && qIsFinite(d);
}

QString numberProblem(const QString& label, const QString& text) {
    const QString t = conv::trim(text);
    if (!isNumberText(t))
        return QStringLiteral("\"%1\" is not a number of days and was not saved.").arg(text);
    if (!t.isEmpty() && QLocale::c().toDouble(t) < 0)
        return QStringLiteral("%1 cannot be negative; \"%2\" was not saved.").arg(label, text);
    return {};
}

}  // namespace vts::settings
