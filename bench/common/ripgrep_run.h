#pragma once
// ripgrep as the benchmarks measure the scanners against it: three patterns close to what the
// scanners look for (e-mail addresses, mobile numbers, QQ numbers after a QQ word).
#include <optional>
#include <string>
#include <vector>

namespace qm::bench {

// The user and system seconds of one `rg -a --no-filename --no-config OPTIONS -e ... FILE`
// with its output thrown away; nothing when it cannot run or reports an error.
std::optional<double> RipgrepCpuSeconds(const std::string& file,
                                        const std::vector<std::string>& options);

}  // namespace qm::bench
