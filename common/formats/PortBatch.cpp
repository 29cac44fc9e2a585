#include "PortBatch.h"

#include <algorithm>

namespace vts {

PortBatch::PortBatch(QString path, PortFileDevice& device)
    : m_path(std::move(path)), m_device(&device) {
    if (const auto bytes = portfile::readRecord(m_path, 1, *m_device)) {
        m_header = PortRecord::decode(*bytes);
    }
    if (m_header) {
        m_status = m_header->status;
    }
}

const PortRecord& PortBatch::header() const {
    static const PortRecord none;
    return m_header ? *m_header : none;
}

void PortBatch::markFailed() { markGone(PortStatus::Failed); }

void PortBatch::markGone(PortStatus s) {
    if (is(PortStatus::Busy)) {
        m_status = static_cast<std::int16_t>(s);
    }
}

bool PortBatch::intact() const {
    const std::int32_t declared = declaredCount();
    return declared >= 1 && declared <= portfile::kQueueSlots && m_present >= declared;
}

bool PortBatch::readRecords() {
    m_records.clear();
    m_firstUnreadable.reset();
    if (!m_header) {
        return false;
    }
    m_present = std::max(portfile::recordCount(m_path) - 1, 0);
    const int count =
        std::min(std::clamp<std::int32_t>(m_header->index, 0, portfile::kQueueSlots), m_present);
    m_records.reserve(static_cast<size_t>(count));
    for (int r = 2; r <= count + 1; ++r) {
        const auto bytes = portfile::readRecord(m_path, r, *m_device);
        auto rec = bytes ? PortRecord::decode(*bytes) : std::nullopt;
        if (!rec) {
            if (!m_firstUnreadable) {
                m_firstUnreadable = r;
            }
            continue;
        }
        m_records.push_back({r, std::move(*rec)});
    }
    return !m_firstUnreadable;
}

std::int16_t PortBatch::statusOf(const PortRecord& rec) const {
    return rec.status == static_cast<std::int16_t>(PortStatus::Busy) ? m_status : rec.status;
}

}  // namespace vts
