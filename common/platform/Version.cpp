#include "Version.h"

#include "VersionNumber.h"

#include <cstdio>
#include <cstring>

namespace vts {

const char* suiteVersion() { return VANTREL_VERSION; }

int handleHelpAndVersion(int argc, char** argv, const char* program, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("%s (Vantrel) %s\n", program, VANTREL_VERSION);
            return 0;
        }
    }
    return -1;
}

}  // namespace vts
