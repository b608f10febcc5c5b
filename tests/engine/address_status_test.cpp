// A status list that keeps no records still tells its listener and counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/address_status.h"

namespace qm {
namespace {

TEST(AddressStatusList, RecordsNotKeptStillReachTheListenerAndTheCounts) {
  TAddressStatusList list;
  std::vector<std::string> heard;
  list.SetListener([&heard](const TAddressStatus& status) { heard.push_back(status.Url); });
  list.SetKeepRecords(false);
  const auto record = [](std::string url, std::string reason, bool skipped) {
    TAddressStatus status;
    status.Url = std::move(url);
    status.FailureReason = std::move(reason);
    status.Skipped = skipped;
    return status;
  };
  list.Add(record("http://a/", "HTTP status 404", false));
  list.Add(record("http://b/", "fetched already in this run", true));
  list.Add(record("http://c/", "", false));
  EXPECT_EQ(heard, (std::vector<std::string>{"http://a/", "http://b/", "http://c/"}));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.FailedCount(), 1);  // a repeated line is no failure
  EXPECT_TRUE(list.Snapshot().empty());
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace qm
