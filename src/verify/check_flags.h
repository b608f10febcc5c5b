#pragma once
// What the check of one row found, as the words the exports, the store and the command line
// show: "ok", or the problems joined by commas in a fixed order.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::verify {

inline constexpr uint32_t kNoMail = 1u << 0;      // no such domain, a null MX, neither MX nor A
inline constexpr uint32_t kBadTld = 1u << 1;      // a top-level domain the Public Suffix List lacks
inline constexpr uint32_t kTooLong = 1u << 2;     // past the limits of an address or its parts
inline constexpr uint32_t kRole = 1u << 3;        // info@, admin@, noreply@ ...
inline constexpr uint32_t kDisposable = 1u << 4;  // a throwaway-mail domain
inline constexpr uint32_t kBadRange = 1u << 5;    // a mobile number outside the number plan
inline constexpr uint32_t kUnchecked = 1u << 6;   // the lookup was not made, failed or timed out

inline constexpr uint32_t kAllFlags = (kUnchecked << 1) - 1;

// "ok" for no flag, else the flags' words joined by commas.
std::string FlagsText(uint32_t flags);
// FlagsText's words of the flags among kAllFlags, made once for the life of the program.
std::string_view FlagsWords(uint32_t flags);

// The flags of a text FlagsText wrote; unknown words are ignored.
uint32_t ParseFlags(std::string_view text);

// Whether a row with these checks belongs in an export of valid rows only: rows never
// checked (empty text), "ok" and "unchecked" do; every other flag marks the row as no real
// contact.
bool IsValidChecks(std::string_view text);

}  // namespace qm::verify
