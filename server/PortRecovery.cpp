#include "PortRecovery.h"

#include "PortBatch.h"

namespace vts::portrecovery {

std::vector<PortRecord> knownOutcomes(const QString& portFilePath, QStringList* unknown) {
    std::vector<PortRecord> out;
    PortBatch batch(portFilePath);
    if (!batch.headerRead() || batch.is(PortStatus::Idle)) {
        return out;  // collected already, or never handed out
    }
    batch.readRecords();  // a record that cannot be read is passed over
    for (const PortBatch::Entry& entry : batch.records()) {
        PortRecord rec = entry.record;
        rec.status = batch.statusOf(rec);
        if (isFinalStatus(rec.status)) {
            out.push_back(std::move(rec));
        } else if (unknown) {
            unknown->append(rec.uniqueId.trimmed());
        }
    }
    return out;
}

}  // namespace vts::portrecovery
