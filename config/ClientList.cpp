#include "ClientList.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "Paths.h"
#include "RowEdit.h"

#include <QFileInfo>

namespace vts::clients {

namespace {
const QString kTable = QStringLiteral("tblClients");
const QString kId = QStringLiteral("ID");
const QString kName = QStringLiteral("Name");
const QString kPath = QStringLiteral("Path");
const QString kComputer = QStringLiteral("ComputerName");

void assign(db::Recordset& rs, db::RowEdit::Mode mode, const Client& typed) {
    db::RowEdit row(rs, mode);
    row.set(kName, normalise(typed.name));
    row.set(kPath, normalise(typed.path));
    row.set(kComputer, normalise(typed.computerName));
    row.commit();
}
}  // namespace

QString normalise(const QString& text) { return conv::trim(text).toUpper(); }

std::vector<Entry> load(const QString& dir) {
    std::vector<Entry> entries;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        for (; !rs->eof(); rs->moveNext())
            entries.push_back({rs->value(kId).toLongLong(), rs->text(kName)});
    }
    db->close();
    return entries;
}

std::optional<Client> find(const QString& dir, qint64 id) {
    std::optional<Client> client;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        if (rs->findFirst(kId, id))
            client = Client{rs->text(kName), rs->text(kPath), rs->text(kComputer)};
    }
    db->close();
    return client;
}

AddResult add(const QString& dir, const Client& typed) {
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        if (rs->findFirst(kName, normalise(typed.name))) return AddResult::Duplicate;
        assign(*rs, db::RowEdit::Mode::Add, typed);
    }
    db->close();
    return AddResult::Added;
}

bool update(const QString& dir, qint64 id, const Client& typed) {
    bool found = false;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(kTable);
        found = rs->findFirst(kId, id);
        if (found) {
            assign(*rs, db::RowEdit::Mode::Edit, typed);
        }
    }
    db->close();
    return found;
}

bool remove(const QString& dir, qint64 id) {
    bool found = false;
    auto db = configstore::open(dir);
    {
        auto rs = db->openTableWhere(kTable, kId, id);
        found = !rs->eof();
        if (found) rs->remove();
    }
    db->close();
    return found;
}

bool locationAccessible(const QString& location, const QString& base) {
    const QString text = conv::trim(location);
    if (text.isEmpty()) return false;
    QString normal = text;
    normal.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype cut = normal.lastIndexOf(QLatin1Char('/'));
    QString folder = cut < 0 ? QString() : normal.left(cut + 1);
    QString pattern = normal.mid(cut + 1);
    if (pattern.isEmpty()) pattern = QStringLiteral("*");
    if (folder.isEmpty()) folder = base;
    bool ok = false;
    const QStringList found = paths::listFiles(paths::resolve(folder, base), pattern, &ok);
    return ok && !found.isEmpty();
}

QString folderToOpen(const QString& path, const QString& base) {
    const QString text = conv::trim(path);
    if (text.isEmpty()) return QString();
    const QString resolved = paths::resolve(text, base);
    const QFileInfo info(resolved);
    if (info.isDir()) return resolved;
    if (info.exists()) return info.absolutePath();
    return QString();
}

QString folderPart(const QString& chosen) {
    const qsizetype cut =
        std::max(chosen.lastIndexOf(QLatin1Char('\\')), chosen.lastIndexOf(QLatin1Char('/')));
    return cut < 0 ? QString() : chosen.left(cut + 1);
}

}  // namespace vts::clients
