#pragma once
#include <string>
#include <string_view>

namespace qm {

// Every "%XX" replaced by its byte; a "%" not followed by two hex digits stays.
std::string PercentDecoded(std::string_view text);

// One spelling for bytes that may be written either way: "%XX" of an unreserved character
// (RFC 3986) decoded, other "%XX" in upper-case hex, bytes outside printable ASCII encoded.
std::string WithCanonicalPercentEncoding(std::string_view text);

}  // namespace qm
