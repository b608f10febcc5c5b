#pragma once
// Gzip members for the replies of the hostile sites, made without ever holding what they
// decode to.
#include <cstddef>
#include <string>
#include <string_view>

namespace qm::bench {

// One gzip member of `text`.
std::string GzipMember(std::string_view text);
// One gzip member of `head` followed by `block` repeated until the whole is `total` bytes.
std::string GzipMemberRepeated(std::string_view head, std::string_view block, size_t total);

}  // namespace qm::bench
