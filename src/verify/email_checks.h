#pragma once
// The checks of an e-mail address that need no network: its lengths and its local part.
#include <string_view>

namespace qm::verify {

struct TEmailParts {
  std::string_view Local;
  std::string_view Domain;
};

// Splits at the last '@'; false when there is none.
bool SplitEmail(std::string_view address, TEmailParts& parts);

// Past what mail can carry: an address over 254 bytes, a local part over 64, a domain over
// 255 or with a label over 63 (or an empty label).
bool EmailTooLong(std::string_view address, const TEmailParts& parts);

// A mailbox of a function, not of a person (info, admin, sales, noreply, ...), also with a
// "+tag" or with its words joined by '-', '_' or '.'.
bool IsRoleLocalPart(std::string_view local);

}  // namespace qm::verify
