#pragma once
#include <string>
#include <string_view>

namespace qm {

// Standard Base64 with "=" padding and no line breaks.
std::string EncodeBase64(std::string_view bytes);

}  // namespace qm
