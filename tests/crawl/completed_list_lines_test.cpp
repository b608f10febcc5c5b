#include "crawl/completed_list_lines.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

TEST(CompletedListLines, PositionIsTheCompletePrefix) {
  struct Row {
    long firstLine;
    std::vector<long> completed;  // in the order the sites end
    long position;
  };
  const Row rows[] = {
      {0, {}, 0},           {0, {0, 1, 2}, 3},
      {0, {1, 2}, 0},                        // line 0's site is still being searched
      {0, {2, 0, 3, 1}, 4},                  // the gap closes
      {0, {0, 2, 3}, 1},    {5, {6, 5}, 7},  // a resumed search
      {5, {3, 5, 5}, 6},
  };
  for (const Row& row : rows) {
    TCompletedListLines lines(row.firstLine);
    for (long line : row.completed) lines.MarkComplete(line);
    EXPECT_EQ(lines.SavedPosition(), row.position) << testing::PrintToString(row.completed);
  }
}

}  // namespace
}  // namespace qm
