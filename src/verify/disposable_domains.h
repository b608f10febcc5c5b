#pragma once
// Throwaway-mail domains, from the list shipped in this folder (disposable_domains.txt; its
// source and date are named in the README).
#include <string_view>

namespace qm::verify {

// `domain` or a domain it is below is on the list.
bool IsDisposableDomain(std::string_view domain);

// The list as built into the program, one domain a line.
std::string_view DisposableDomainsText();

}  // namespace qm::verify
