#include "SendQueue.h"

#include "EventLoop.h"

namespace vts {

int SendQueue::findFree() const {
    for (int n = 1; n <= kSlots; ++n) {
        if (!at(n).occupied()) {
            return n;
        }
    }
    return 0;
}

int SendQueue::count() const {
    int c = 0;
    for (const QueueSlot& s : m_slots) {
        if (s.occupied()) {
            ++c;
        }
    }
    return c;
}

bool SendQueue::isEligible(const QueueSlot& s, const QDateTime& now, double retryDelay) {
    if (!s.occupied() || s.InProgress) {
        return false;
    }
    if (s.Retries == 0) {
        return true;
    }
    if (s.Retries < 0) {
        return false;
    }
    return EventLoop::secondsBetween(s.LastTry, now) > retryDelay;
}

int SendQueue::pickOldestEligible(const QDateTime& now, double retryDelay) const {
    int best = 0;
    for (int n = 1; n <= kSlots; ++n) {
        const QueueSlot& s = at(n);
        if (!isEligible(s, now, retryDelay)) {
            continue;
        }
        if (best == 0 || s.SubmitTime < at(best).SubmitTime) {
            best = n;
        }
    }
    return best;
}

std::vector<int> SendQueue::gatherBatch(const QString& phone, const QDateTime& now,
                                        double retryDelay) const {
    std::vector<int> out;
    for (int n = 1; n <= kSlots; ++n) {
        const QueueSlot& s = at(n);
        if (s.PhoneNumber == phone && isEligible(s, now, retryDelay)) {
            out.push_back(n);
        }
    }
    return out;
}

}  // namespace vts
