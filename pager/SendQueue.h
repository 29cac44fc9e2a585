#pragma once

#include "PortRecord.h"
#include "Statuses.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace vts {

// One queued message. A slot is occupied exactly when PhoneNumber is not
// empty; freeing a slot empties PhoneNumber and nothing else.
struct QueueSlot {
    // The kinds by the names the send methods give them.
    static constexpr PageKind Alpha = PageKind::Alphanumeric;  // SendMessage
    static constexpr PageKind Numeric = PageKind::Numeric;     // SendNumeric
    static constexpr PageKind AsciiFile = PageKind::TextFile;  // SendAscii

    QString Message;
    QString TAPPassword;
    QString PhoneNumber;
    QString PIN;
    QString ComSettings;
    QString ModemInitString;
    QString ModemDialString;
    std::int16_t MaxCharactersPerBlock = 0;
    std::int16_t Retries = 0;
    QDateTime LastTry;
    QString UniqueID;
    PageKind Kind = Alpha;
    std::int16_t Delay = 0;
    bool InProgress = false;
    QDateTime SubmitTime;
    QString AsciiFilename;

    bool occupied() const { return !PhoneNumber.isEmpty(); }
};

// The control's send queue: 800 slots numbered 1 to 800, searched linearly
// in slot order. Holds no policy beyond what makes a slot free, eligible or
// the oldest; the dispatcher decides what to do with them.
class SendQueue {
public:
    static constexpr int kSlots = portfile::kQueueSlots;

    // Slot n, 1 <= n <= kSlots.
    QueueSlot& at(int n) { return m_slots[static_cast<size_t>(n - 1)]; }
    const QueueSlot& at(int n) const { return m_slots[static_cast<size_t>(n - 1)]; }

    // Lowest-numbered free slot, or 0 when the queue is full.
    int findFree() const;
    // Number of occupied slots, in a dialer run or not.
    int count() const;
    // Empties PhoneNumber: the slot is free again.
    void release(int n) { at(n).PhoneNumber.clear(); }

    // Occupied, not in a dialer run, and either never failed or failed more
    // than `retryDelay` seconds before `now`.
    static bool isEligible(const QueueSlot& s, const QDateTime& now, double retryDelay);
    // The eligible slot with the earliest SubmitTime (lowest number on equal
    // times), or 0 when none is eligible.
    int pickOldestEligible(const QDateTime& now, double retryDelay) const;
    // Every eligible slot, in slot order, whose PhoneNumber equals `phone`
    // exactly.
    std::vector<int> gatherBatch(const QString& phone, const QDateTime& now,
                                 double retryDelay) const;

private:
    std::array<QueueSlot, kSlots> m_slots;
};

}  // namespace vts
