#include "ui/change_notifier.h"

#include <gtest/gtest.h>

namespace qm::ui {
namespace {

TEST(ChangeNotifier, CoalescesUntilAcknowledgedButNeverAnUrgentChange) {
  ChangeNotifier notifier;
  int calls = 0;
  notifier.SetListener([&] { ++calls; });
  notifier.Changed();
  notifier.Changed();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(notifier.TakeUrgent());
  // The end of a run while a notification is pending still reaches the shell, and tells
  // it once not to wait.
  notifier.ChangedUrgently();
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(notifier.TakeUrgent());
  EXPECT_FALSE(notifier.TakeUrgent());
  notifier.Changed();
  EXPECT_EQ(calls, 2);
  notifier.Acknowledge();
  notifier.Changed();
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace qm::ui
