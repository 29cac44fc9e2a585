#pragma once

#include "Database.h"

#include <QString>

#include <memory>

namespace vts {
class Dialogs;
}

// The configuration store VTSCFG.MDB: tblConfig (one settings row),
// tblModems, tblClients.
namespace vts::configstore {

inline const QString kFileName = QStringLiteral("VTSCFG.MDB");
inline const QString kMissingText = QStringLiteral(
    "Cannot find the VTSCFG.MDB file.  The program cannot continue until this file is in the "
    "working directory");
inline const QString kMissingTitle = QStringLiteral("Vantrel Server");

// The presence check: a directory search for the bare name in `dir`,
// ignoring letter case.
bool present(const QString& dir);
// Shows the missing-store box (critical icon, OK only, "Vantrel Server").
// The caller ends the program when it returns.
void showMissing(Dialogs& dialogs);

// Opens the store in `dir`; throws db::DbError.
std::unique_ptr<db::Database> open(const QString& dir);

// The tables, fields in order (tblConfig in the order the editor writes them).
db::TableDef configTable();
db::TableDef modemsTable();
db::TableDef clientsTable();

// Creates a new store at `path` with the three tables and one settings row
// holding first-run defaults and `queueFolder` as MessageQueueLocation.
void createNew(const QString& path, const QString& queueFolder);

}  // namespace vts::configstore
