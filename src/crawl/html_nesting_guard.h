#pragma once
#include <cstddef>
#include <string_view>

namespace qm {

// Tree building slows down with the square of the depth of unclosed elements, so a page of
// thousands of unclosed <div>s would stall a worker for minutes. This is the length of the
// page's beginning in which no more than `maxDepth` elements stay open, estimated by a plain
// tag scan that leaves out void elements and those whose end tag may be omitted (p, li, td,
// ...), which the parser closes by itself.
size_t LengthWithinNestingDepth(std::string_view html, int maxDepth);

}  // namespace qm
