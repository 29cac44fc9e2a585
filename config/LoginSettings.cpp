#include "LoginSettings.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "RowEdit.h"

#include <algorithm>

namespace vts::login {

namespace {
const QString kTable = QStringLiteral("tblConfig");
const QString kEnabled = QStringLiteral("EnableLoginPassword");
const QString kPassword = QStringLiteral("SystemPassword");
const QString kIdle = QStringLiteral("AutoLogoutMinutes");

bool isNull(const QVariant& v) { return !v.isValid() || v.isNull(); }

std::unique_ptr<db::Recordset> firstRow(db::Database& db) {
    auto rs = db.openTable(kTable);
    if (rs->isEmpty())
        throw db::DbError(QStringLiteral("The settings row is missing from tblConfig"),
                          db.filePath());
    rs->moveFirst();
    return rs;
}
}  // namespace

Row read(const QString& dir) {
    Row row;
    auto db = configstore::open(dir);
    {
        auto rs = firstRow(*db);
        row.enabled = rs->value(kEnabled);
        row.password = rs->text(kPassword);
        const QVariant idle = rs->value(kIdle);
        row.idleMinutes = isNull(idle) ? QString() : QString::number(idle.toLongLong());
    }
    db->close();
    return row;
}

bool loginRequired(const Row& row) { return isNull(row.enabled) || row.enabled.toLongLong() != 0; }

bool enabledBox(const Row& row) { return !isNull(row.enabled) && row.enabled.toLongLong() != 0; }

QString normalised(const QString& password) { return conv::trim(password).toUpper(); }

int passwordWidth() {
    for (const auto& f : configstore::configTable().fields)
        if (f.name.compare(kPassword, Qt::CaseInsensitive) == 0 && f.size > 0) return f.size;
    return 255;
}

bool passwordFits(const QString& typed) { return normalised(typed).size() <= passwordWidth(); }

bool passwordsMatch(const QString& typed, const QString& stored) {
    // In constant time for a given length: how long a wrong guess took says
    // nothing about how much of it was right.
    const QString a = normalised(typed), b = normalised(stored);
    unsigned diff = a.size() == b.size() ? 0U : 1U;
    const qsizetype n = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        diff |= static_cast<unsigned>(i < a.size() ? a.at(i).unicode() : 0) ^
                static_cast<unsigned>(i < b.size() ? b.at(i).unicode() : 0);
    }
    return diff == 0;
}

bool validIdleMinutes(const QString& text) {
    const QString t = conv::trim(text);
    if (t.isEmpty()) return true;
    bool ok = false;
    const int n = t.toInt(&ok);
    return ok && n >= 0 && n <= 32767;
}

void write(const QString& dir, const QString& idleMinutes, bool enabled) {
    auto db = configstore::open(dir);
    {
        auto rs = firstRow(*db);
        db::RowEdit row(*rs, db::RowEdit::Mode::Edit);
        const QString t = conv::trim(idleMinutes);
        row.set(kIdle, t.isEmpty() ? QVariant() : QVariant(t.toInt()));
        row.set(kEnabled, enabled ? 1 : 0);
        row.commit();
    }
    db->close();
}

}  // namespace vts::login
