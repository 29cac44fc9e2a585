#pragma once

#include <QString>

#include <optional>
#include <vector>

// The client installations of tblClients as the operator maintains them.
// Rows are found by ID; names typed here are stored trimmed and upper-cased
// and a new name must not exist yet (compared the same way). Every value
// reaches the store as a bound parameter, so a name with an apostrophe is an
// ordinary name.
namespace vts::clients {

inline const QString kDuplicateText = QStringLiteral("That name already exists");
inline const QString kDuplicateTitle = QStringLiteral("Error");
inline const QString kPathText =
    QStringLiteral("That path specified for the Vantrel client is not currently accessible");
inline const QString kPathTitle = QStringLiteral("Warning");
inline const QString kRemoveText = QStringLiteral("Are you sure you want to remove this client");
inline const QString kRemoveTitle = QStringLiteral("Removal Verification");

struct Entry {
    qint64 id = 0;
    QString name;
};

struct Client {
    QString name;
    QString path;
    QString computerName;  // a null value reads as ""
};

// Trimmed and upper-cased, the form every typed text is stored in.
QString normalise(const QString& text);

// Every row in table order. Throws db::DbError.
std::vector<Entry> load(const QString& dir);
// The row with `id`, as stored. Throws db::DbError.
std::optional<Client> find(const QString& dir, qint64 id);

enum class AddResult { Added, Duplicate };
// Adds a row from the typed texts (normalised) unless the name exists.
// Throws db::DbError.
AddResult add(const QString& dir, const Client& typed);
// Sets the row with `id` from the typed texts (normalised); false when the
// row no longer exists. Throws db::DbError.
bool update(const QString& dir, qint64 id, const Client& typed);
// Deletes the row with `id`; false when it no longer exists. Throws
// db::DbError.
bool remove(const QString& dir, qint64 id);

// True when the trimmed location names something the search for normal
// files finds: an existing file, or a folder (written with a trailing
// separator) holding at least one file. Wildcards in the last component
// match as on Windows. Relative locations are taken from `base`.
bool locationAccessible(const QString& location, const QString& base);

// The existing folder to open for a stored path: the path resolved ignoring
// letter case, or the folder holding it when it names a file. Empty when
// nothing of that name exists.
QString folderToOpen(const QString& path, const QString& base);

// The folder part of a chosen file: the text up to and including the last
// separator ("\" or "/"); empty when there is none.
QString folderPart(const QString& chosen);

}  // namespace vts::clients
