#pragma once

#include "PortRecord.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace vts::portrecovery {

// The records of the batch in a port file left by an earlier run whose
// outcome is known, each with its effective status (2 sent, 3 failed,
// 4 cancelled, 5 modem error) in `status`: a record's own final status, or
// the header's final status for a record still at 1. Records of a batch
// whose header is still Busy and which are themselves still at 1 are left
// out: nobody knows whether they reached the paging service. Only records
// that exist in the file count, whatever the header's count says.
// `unknown` (when given) receives the UniqueIDs of the other records.
std::vector<PortRecord> knownOutcomes(const QString& portFilePath, QStringList* unknown = nullptr);

}  // namespace vts::portrecovery
