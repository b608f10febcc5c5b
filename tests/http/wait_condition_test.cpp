// The condition lanes wait on: wakes in the order of waiting, and a waiter that gave up
// leaves the queue, wherever it stood in it.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "http/fiber_scheduler.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(WaitCondition, WakesInOrderPastAWaiterThatGaveUp) {
  std::mutex mutex;
  TWaitCondition condition;
  std::string events;
  bool gaveUp = false;
  TFiberScheduler fibers;
  const auto waiter = [&](char name, Clock::duration patience) {
    return [&, name, patience] {
      std::unique_lock lock(mutex);
      const bool woken = condition.wait_until(lock, Clock::now() + patience);
      events += woken ? name : static_cast<char>(name - 'a' + 'A');
      if (name == 'b') gaveUp = true;
    };
  };
  // a, b and c queue in that order; b gives up first, from the middle of the queue.
  ASSERT_TRUE(fibers.Spawn(waiter('a', 10s)));
  ASSERT_TRUE(fibers.Spawn(waiter('b', 1ms)));
  ASSERT_TRUE(fibers.Spawn(waiter('c', 10s)));
  ASSERT_TRUE(fibers.Spawn([&] {
    const auto limit = Clock::now() + 10s;
    while (!gaveUp && Clock::now() < limit) ParkUntil(Clock::now() + 1ms);
    std::unique_lock lock(mutex);
    condition.notify_one();
    condition.notify_one();
    condition.notify_one();  // nobody is left to wake
  }));
  fibers.Run();
  EXPECT_EQ(events, "Bac");
}

TEST(WaitCondition, NotifyAllWakesFibersAndThreads) {
  std::mutex mutex;
  TWaitCondition condition;
  int woken = 0;
  int waiting = 0;
  std::thread thread([&] {
    std::unique_lock lock(mutex);
    ++waiting;
    if (condition.wait_until(lock, Clock::now() + 10s)) ++woken;
  });
  TFiberScheduler fibers;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(fibers.Spawn([&] {
      std::unique_lock lock(mutex);
      ++waiting;
      if (condition.wait_until(lock, Clock::now() + 10s)) ++woken;
    }));
  }
  ASSERT_TRUE(fibers.Spawn([&] {
    const auto limit = Clock::now() + 10s;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        if (waiting == 4 || Clock::now() >= limit) {
          condition.notify_all();
          break;
        }
      }
      ParkUntil(Clock::now() + 1ms);
    }
  }));
  fibers.Run();
  thread.join();
  EXPECT_EQ(woken, 4);
}

}  // namespace
}  // namespace qm
