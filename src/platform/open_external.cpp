#include "platform/open_external.h"

#include "platform/run_program.h"

namespace morvane {

bool OpenWithDesktop(const std::string& target) {
    if (target.empty() || target[0] == '-') return false;
    RunOptions options;
    options.wait = false;
    return RunProgram({"xdg-open", target}, options).started;
}

}  // namespace morvane
