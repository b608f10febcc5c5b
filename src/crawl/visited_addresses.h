#pragma once
#include <mutex>
#include <string>
#include <unordered_set>

namespace qm {

// The normalised addresses fetched in one run, shared by every site's frontier, so that a
// page is fetched once however many links lead to it, and a page that failed is not tried
// again. Any thread may call it.
class TVisitedAddresses {
 public:
  // True only the first time `normalisedAddress` is claimed.
  bool Claim(const std::string& normalisedAddress);
  bool Contains(const std::string& normalisedAddress) const;
  size_t Count() const;

 private:
  mutable std::mutex Lock;
  std::unordered_set<std::string> Addresses;
};

}  // namespace qm
