// The budget pages reserve their buffers from, and what one page holds of it.
#include "http/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/wait_until.h"

namespace qm::test {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point In(int ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

TEST(MemoryBudget, ReservesWithinTheLimitWaitsForReleaseOrTheDeadline) {
  TMemoryBudget budget(1000);
  TMemoryReservation page(&budget);
  EXPECT_TRUE(page.GrowTo(900, In(0)));
  const auto start = Clock::now();
  EXPECT_FALSE(budget.Reserve(1001, In(20000)));  // never fits: no wait
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(budget.Reserve(200, In(100)));  // the deadline passes
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));

  std::atomic<bool> waiting{false};
  std::atomic<bool> reserved{false};
  std::thread other([&] {
    waiting = true;
    reserved = budget.Reserve(500, In(20000));
  });
  ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
  page.ShrinkTo(400);
  other.join();
  EXPECT_TRUE(reserved.load());
  EXPECT_EQ(budget.InUse(), 900u);
  page.Reset();
  budget.Release(5000);  // more than is held: nothing wraps around
  EXPECT_EQ(budget.InUse(), 0u);
  EXPECT_EQ(budget.PeakInUse(), 900u);
}

TEST(MemoryBudget, CancelWakesEveryWaiterForGood) {
  TMemoryBudget budget(100);
  ASSERT_TRUE(budget.TryReserve(100));
  std::atomic<int> started{0};
  std::atomic<int> refused{0};
  auto wait = [&] {
    ++started;
    if (!budget.Reserve(10, In(60000))) ++refused;
  };
  std::thread first(wait), second(wait);
  ASSERT_TRUE(WaitUntil([&] { return started.load() == 2; }));
  budget.Cancel();
  first.join();
  second.join();
  EXPECT_EQ(refused.load(), 2);
  budget.Release(100);
  EXPECT_FALSE(budget.TryReserve(1));
}

}  // namespace
}  // namespace qm::test
