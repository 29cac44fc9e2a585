#pragma once

#include <sys/types.h>

#include <cstddef>

namespace vts {

// Where the bytes of port-file records go and come from. The system device
// reads and writes the open file directly; a test can put a device in its
// place that stops part-way (after so many bytes), the way a full disk or a
// failing medium does, to reach the paths that handle a short read or write.
class PortFileDevice {
public:
    virtual ~PortFileDevice() = default;

    // Like pread(2) and pwrite(2) on `fd`: the number of bytes moved, 0 at
    // the end of the file, -1 with errno set on an error.
    virtual ssize_t readAt(int fd, void* data, size_t size, off_t offset);
    virtual ssize_t writeAt(int fd, const void* data, size_t size, off_t offset);

    // The device every port-file access uses unless told otherwise.
    static PortFileDevice& system();
};

}  // namespace vts
