#pragma once
// The row checks' options that harvest and scan share: --no-verify and --resolver ADDR:PORT.
#include <string>

#include "cli/command_line.h"

namespace qm::cli {

// The --resolver value, checked: empty when not given. Throws UsageError for one that is no
// ADDR:PORT.
std::string ResolverOption(const ParsedCommand& parsed);

}  // namespace qm::cli
