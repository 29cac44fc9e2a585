#pragma once

#include "PortRecord.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace vts {

// True for the statuses a dialer ends a message or a batch with: Sent,
// Failed, Cancelled or ModemError. Idle and Busy (and anything else) are not.
constexpr bool isFinalStatus(std::int16_t status) {
    return status >= static_cast<std::int16_t>(PortStatus::Sent) &&
           status <= static_cast<std::int16_t>(PortStatus::ModemError);
}

// One batch as a port file holds it, read the one way the pager control,
// the dialer and the server's start-up recovery all read it: the header
// first, then the message records its count names, taken only as far as
// the file holds whole records and never beyond the messages a batch can
// hold (portfile::kQueueSlots). A record still Busy under a final header
// takes the header's status; every other record keeps its own.
class PortBatch final {
public:
    // A message record and its record number in the file (2 and on).
    struct Entry {
        int number = 0;
        PortRecord record;
    };

    // Reads the header of the port file at `path` through `device`.
    explicit PortBatch(QString path, PortFileDevice& device = PortFileDevice::system());

    // False when the header could not be read: the batch is neither free
    // nor finished.
    bool headerRead() const { return m_header.has_value(); }
    // The header as read (a default record when it could not be read).
    const PortRecord& header() const;

    // The batch's status: the header's, unless markFailed() said otherwise.
    std::int16_t status() const { return m_status; }
    bool is(PortStatus s) const { return m_status == static_cast<std::int16_t>(s); }
    bool finished() const { return isFinalStatus(m_status); }
    // A Busy batch whose dialer is gone without a final header counts as
    // failed from now on.
    void markFailed();
    // The same with another status for the unmarked messages.
    void markGone(PortStatus s);

    // The count the header declares, as it stands.
    std::int32_t declaredCount() const { return headerRead() ? m_header->index : 0; }
    // Whether the header's count is one the control can have written (1 to
    // kQueueSlots) and the file holds that many message records. Valid
    // after readRecords().
    bool intact() const;

    // Reads the message records the count names, as far as the file holds
    // them. False when one of them cannot be read; it is then left out of
    // records() and named by firstUnreadable().
    bool readRecords();
    const std::vector<Entry>& records() const { return m_records; }
    std::optional<int> firstUnreadable() const { return m_firstUnreadable; }

    // The status that settles `rec`: its own, or the batch's when the
    // dialer left it Busy.
    std::int16_t statusOf(const PortRecord& rec) const;

private:
    QString m_path;
    PortFileDevice* m_device;
    std::optional<PortRecord> m_header;
    std::int16_t m_status = 0;
    int m_present = 0;  // whole message records in the file
    std::vector<Entry> m_records;
    std::optional<int> m_firstUnreadable;
};

}  // namespace vts
