#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Replaces the content of `lines` with the lines of `text`. A line ends at CR LF, at LF or
// at a lone CR; the break is not part of the line; text after the last break is a last
// line when it is not empty. NUL bytes are ordinary bytes. The strings already in `lines`
// are reused, so splitting page after page into one list costs few allocations.
void SplitLines(std::string_view text, std::vector<std::string>& lines);

}  // namespace qm
