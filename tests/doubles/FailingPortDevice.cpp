#include "FailingPortDevice.h"

#include <algorithm>
#include <cerrno>

namespace vts {

namespace {

// Moves at most `budget` bytes through `move`; fails with `error` once the
// budget is spent.
template <typename Move>
ssize_t withBudget(long long& budget, size_t size, int error, Move move) {
    if (budget <= 0) {
        errno = error;
        return -1;
    }
    const auto allowed =
        static_cast<size_t>(std::min<long long>(budget, static_cast<long long>(size)));
    const ssize_t n = move(allowed);
    if (n > 0) {
        budget -= n;
    }
    return n;
}

}  // namespace

ssize_t FailingPortDevice::readAt(int fd, void* data, size_t size, off_t offset) {
    return withBudget(m_readBudget, size, EIO, [&](size_t allowed) {
        return PortFileDevice::readAt(fd, data, allowed, offset);
    });
}

ssize_t FailingPortDevice::writeAt(int fd, const void* data, size_t size, off_t offset) {
    return withBudget(m_writeBudget, size, ENOSPC, [&](size_t allowed) {
        return PortFileDevice::writeAt(fd, data, allowed, offset);
    });
}

}  // namespace vts
