#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "crawl/robots_rules.h"
#include "http/fiber_scheduler.h"
#include "http/memory_budget.h"

namespace qm {

// The robots.txt rules of every origin (scheme, host, port) one site's pages are fetched
// from, each read once a run and shared by all lines and lanes of the site. Any thread may
// call it; only lanes of the same site ever wait on each other here.
class TRobotsCache {
 public:
  // Reads the robots.txt at an address; what its rules hold is kept in `memory`.
  using Reader = std::function<TRobotsRules(const std::string& robotsAddress,
                                            TMemoryReservation& memory)>;

  // The first caller for an address reads it with `read`; later ones wait for its answer.
  std::shared_ptr<const TRobotsRules> RulesFor(const std::string& robotsAddress,
                                               const Reader& read);

 private:
  struct TEntry {
    std::shared_ptr<const TRobotsRules> Rules;  // null while being read
    TMemoryReservation Memory;
  };
  std::mutex Lock;
  // Lanes that are fibers of one thread wait here for each other.
  TWaitCondition Answered;
  std::unordered_map<std::string, TEntry> Entries;
};

}  // namespace qm
