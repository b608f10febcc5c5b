#include "crawl/visited_addresses.h"

namespace qm {

bool TVisitedAddresses::Claim(const std::string& normalisedAddress) {
  const std::lock_guard<std::mutex> guard(Lock);
  return Addresses.insert(normalisedAddress).second;
}

bool TVisitedAddresses::Contains(const std::string& normalisedAddress) const {
  const std::lock_guard<std::mutex> guard(Lock);
  return Addresses.contains(normalisedAddress);
}

size_t TVisitedAddresses::Count() const {
  const std::lock_guard<std::mutex> guard(Lock);
  return Addresses.size();
}

}  // namespace qm
