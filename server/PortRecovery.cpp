#include "PortRecovery.h"

#include <algorithm>

namespace vts::portrecovery {

namespace {
bool isFinal(std::int16_t s) { return s >= 2 && s <= 5; }
}  // namespace

std::vector<PortRecord> knownOutcomes(const QString& portFilePath) {
    std::vector<PortRecord> out;
    const auto headerBytes = portfile::readRecord(portFilePath, 1);
    if (!headerBytes) {
        return out;
    }
    const PortRecord header = *PortRecord::decode(*headerBytes);
    if (header.status == static_cast<std::int16_t>(PortStatus::Idle)) {
        return out;  // collected already, or never handed out
    }
    const int present = std::max(portfile::recordCount(portFilePath) - 1, 0);
    const int count = std::min(std::clamp<qint32>(header.index, 0, portfile::kQueueSlots), present);
    for (int r = 2; r <= count + 1; ++r) {
        const auto bytes = portfile::readRecord(portFilePath, r);
        if (!bytes) {
            continue;
        }
        PortRecord rec = *PortRecord::decode(*bytes);
        if (!isFinal(rec.status)) {
            if (rec.status != static_cast<std::int16_t>(PortStatus::Busy) ||
                !isFinal(header.status)) {
                continue;
            }
            rec.status = header.status;
        }
        out.push_back(std::move(rec));
    }
    return out;
}

}  // namespace vts::portrecovery
