#include "AlertSound.h"

#include <cstdio>

namespace vts {

void TerminalBell::play() {
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

}  // namespace vts
