#include "ModemList.h"

#include "ConfigStore.h"
#include "Conversions.h"

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
        rs->addNew();
        try {
            rs->setValue(kField, port);
            rs->update();
        } catch (...) {
            rs->cancelUpdate();
            throw;
        }
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
    if (!unusable.isEmpty())
        parts << QStringLiteral("The server can use only ports 1 to 9; it cannot use %1.")
                     .arg(unusable.join(QStringLiteral(", ")));
    if (ports.size() > 8)
        parts << QStringLiteral("The server uses only the first eight ports listed.");
    return parts.join(QLatin1Char(' '));
}

}  // namespace vts::modems
