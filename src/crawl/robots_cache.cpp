#include "crawl/robots_cache.h"

namespace qm {

std::shared_ptr<const TRobotsRules> TRobotsCache::RulesFor(const std::string& robotsAddress,
                                                           const Reader& read) {
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    const auto known = Entries.find(robotsAddress);
    if (known == Entries.end()) break;
    if (known->second.Rules) return known->second.Rules;
    Answered.wait(lock);
  }
  Entries.try_emplace(robotsAddress);
  lock.unlock();
  TMemoryReservation memory;
  std::shared_ptr<const TRobotsRules> rules;
  try {
    rules = std::make_shared<const TRobotsRules>(read(robotsAddress, memory));
  } catch (...) {
    // The next caller reads it again.
    lock.lock();
    Entries.erase(robotsAddress);
    Answered.notify_all();
    throw;
  }
  lock.lock();
  TEntry& entry = Entries[robotsAddress];
  entry.Rules = rules;
  entry.Memory = std::move(memory);
  Answered.notify_all();
  return rules;
}

}  // namespace qm
