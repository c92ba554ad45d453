#include "export/aaf_export.h"

#include <cstdio>

namespace morvane {

bool ExportAAF(const ExportSnapshot& snapshot, std::string* error) {
    (void)snapshot;
    const char* reason = "AAF export is not available in this version";
    std::printf("[AAF] %s — no session written\n", reason);
    if (error != nullptr) *error = reason;
    return false;
}

}  // namespace morvane
