#include "ModemList.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "RowEdit.h"

namespace vts::modems {

namespace {
const QString kTable = QStringLiteral("tblModems");
const QString kField = QStringLiteral("ComPort");
}  // namespace

QStringList load(const QString& dir) {
    QStringList ports;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        for (; !rs->eof(); rs->moveNext()) ports << conv::trim(rs->text(kField));
    }
    db->close();
    return ports;
}

bool inRange(const QString& typed) {
    const double n = conv::val(typed);
    return n > 0 && n <= 32;
}

AddResult add(const QString& dir, const QString& typed) {
    if (!inRange(typed)) return AddResult::OutOfRange;
    const QString port = QStringLiteral("COM") + conv::trim(typed);
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        if (rs->findFirst(kField, port)) return AddResult::Duplicate;
        db::RowEdit row(*rs, db::RowEdit::Mode::Add);
        row.set(kField, port);
        row.commit();
    }
    db->close();
    return AddResult::Added;
}

bool remove(const QString& dir, const QString& comPort) {
    bool found = false;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        found = rs->findFirst(kField, comPort);
        if (found) rs->remove();
    }
    db->close();
    return found;
}

double serverPortNumber(const QString& comPort) { return conv::val(comPort.mid(3)); }

QString serverWarning(const QStringList& ports) {
    QStringList unusable;
    for (const QString& p : ports) {
        const double n = serverPortNumber(p);
        if (n < 1 || n > 9) unusable << p;
    }
    QStringList parts;
    // A few names and a count keep the note short beside a long list.
    constexpr int kNamed = 3;
    if (!unusable.isEmpty()) {
        QString names = unusable.mid(0, kNamed).join(QStringLiteral(", "));
        if (unusable.size() > kNamed)
            names += QStringLiteral(" and %1 more").arg(unusable.size() - kNamed);
        parts
            << QStringLiteral("The server can use only ports 1 to 9; it cannot use %1.").arg(names);
    }
    if (ports.size() > 8)
        parts << QStringLiteral("The server uses only the first eight ports listed.");
    return parts.join(QLatin1Char(' '));
}

}  // namespace vts::modems
