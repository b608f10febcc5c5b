#include "contacts/unique_values.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

// Values of every length the lists meet, and some they should not: empty, one byte, the
// 127/128 bytes where a length takes a second byte, a value longer than a block, bytes
// beyond ASCII and zero bytes. Each is new once, then known, and unlike its neighbours.
TEST(UniqueValues, EachValueOnceWhateverItsLength) {
  std::vector<std::string> values = {"",
                                     "a",
                                     "b",
                                     std::string(127, 'x'),
                                     std::string(128, 'x'),
                                     std::string(40000, 'y'),
                                     std::string("\0\0", 2),
                                     std::string("\0", 1),
                                     "中文@例子.cn"};
  for (int i = 0; i < 20000; ++i) values.push_back("user" + std::to_string(i) + "@firm.cn");
  TUniqueValues set;
  for (const std::string& value : values) {
    EXPECT_FALSE(set.Contains(value)) << value.size();
    EXPECT_TRUE(set.Insert(value)) << value.size();
  }
  EXPECT_EQ(set.Size(), values.size());
  for (const std::string& value : values) {
    EXPECT_TRUE(set.Contains(value)) << value.size();
    EXPECT_FALSE(set.Insert(value)) << value.size();
  }
  EXPECT_FALSE(set.Contains(std::string(126, 'x')));
  EXPECT_FALSE(set.Contains("user20000@firm.cn"));
  EXPECT_FALSE(set.Contains(std::string(40001, 'y')));

  set.Clear();
  EXPECT_EQ(set.Size(), 0u);
  EXPECT_FALSE(set.Contains("a"));
  EXPECT_TRUE(set.Insert("a"));
}

// Four threads insert overlapping values: each is inserted by exactly one of them.
TEST(UniqueValues, ExactlyOneInsertWinsAcrossThreads) {
  TUniqueValues set;
  constexpr int kValues = 20000;
  std::atomic<int> wins{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kValues; ++i) {
        const int value = (i * (2 * t + 1) * 7919) % kValues;
        if (set.Insert("1" + std::to_string(value))) ++wins;
        set.Contains("1" + std::to_string(i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wins.load(), kValues);
  EXPECT_EQ(set.Size(), static_cast<size_t>(kValues));
}

}  // namespace
}  // namespace qm
