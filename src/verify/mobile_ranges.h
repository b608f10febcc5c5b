#pragma once
// The mobile number plan: which three-digit prefixes of 11-digit numbers are in service.
#include <string_view>

namespace qm::verify {

// `number` is 11 digits beginning with 1 whose prefix the plan assigns to mobile service
// (13x, 145-149, 15x but 154, 162, 165-167, 170-173, 175-178, 18x, 19x but 194).
bool InMobileNumberPlan(std::string_view number);

}  // namespace qm::verify
