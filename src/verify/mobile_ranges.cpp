#include "verify/mobile_ranges.h"

#include <array>

namespace qm::verify {
namespace {

// The third digits in service after each second digit from 3 to 9. 140-144 and 174 hold
// data-only or satellite numbers, not mobile phones.
constexpr std::array<std::string_view, 7> kSecondDigitRows = {
    "0123456789",  // 13x
    "56789",       // 14x
    "012356789",   // 15x but 154
    "2567",        // 16x
    "01235678",    // 17x
    "0123456789",  // 18x
    "012356789",   // 19x but 194
};

}  // namespace

bool InMobileNumberPlan(std::string_view number) {
  if (number.size() != 11 || number[0] != '1') return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
  }
  const int second = number[1] - '0';
  if (second < 3) return false;
  return kSecondDigitRows[static_cast<size_t>(second - 3)].find(number[2]) != std::string_view::npos;
}

}  // namespace qm::verify
