#pragma once

#include "PortFileDevice.h"

#include <limits>

namespace vts {

// Test double: passes port-file reads and writes on to the file until a
// budget of bytes is spent, then stops part-way and fails every further
// call with ENOSPC (writes) or EIO (reads), the way a full disk or a failing
// medium does. Reads and writes have budgets of their own.
class FailingPortDevice final : public PortFileDevice {
public:
    static constexpr long long kUnlimited = std::numeric_limits<long long>::max();

    void failWritesAfter(long long bytes) { m_writeBudget = bytes; }
    void failReadsAfter(long long bytes) { m_readBudget = bytes; }
    void heal() { m_writeBudget = m_readBudget = kUnlimited; }

    ssize_t readAt(int fd, void* data, size_t size, off_t offset) override;
    ssize_t writeAt(int fd, const void* data, size_t size, off_t offset) override;

private:
    long long m_writeBudget = kUnlimited;
    long long m_readBudget = kUnlimited;
};

}  // namespace vts
