#include "contacts/page_anchors.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "contacts/extractors.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

// One anchor at every position of texts around the 64-byte words, asked about through
// ranges that start and end on either side of it.
TEST(PageAnchors, AnAnchorIsFoundInExactlyTheRangesHoldingIt) {
  for (size_t size : {3, 63, 64, 65, 74, 75, 139, 200}) {
    for (size_t at = 0; at + 2 < size; ++at) {
      std::string text(size, ' ');
      text.replace(at, 2, "@a");
      TPageAnchors anchors;
      anchors.Find(text);
      for (size_t begin : {size_t{0}, at > 0 ? at - 1 : 0, at, at + 1}) {
        for (size_t end : {at, at + 1, at + 2, size, size + 100}) {
          EXPECT_EQ(anchors.AnyIn(begin, end), begin <= at && at < end)
              << "size " << size << ", anchor at " << at << ", range " << begin << "-" << end;
        }
      }
    }
  }
  TPageAnchors none;
  none.Find("");
  EXPECT_FALSE(none.AnyIn(0, 10));
}

// Pages of random pieces, scanned as a worker does (only the lines the page pass marks),
// give the rows of every line scanned in full.
TEST(PageAnchors, LinesPassedOverHoldNothingTheScannersWouldTake) {
  const std::vector<std::string> pieces = {
      "@",  "1",  "13812345678", "0",        "12345",        "9", "q", "Q", "qq",
      "QQ", "nc", "tencent",     "ab",       "cd.ef",        ".", "-", " ", "\r\n",
      "\n", "\r", "\xC1\xAA",    "\x81\x40", "\xE8\x81\x94", "x"};
  std::mt19937 random(7);
  ui::ChangeNotifier notifier;
  TResultList full[3] = {TResultList(notifier), TResultList(notifier), TResultList(notifier)};
  TResultList marked[3] = {TResultList(notifier), TResultList(notifier), TResultList(notifier)};
  TPageLines lines;
  TPageAnchors anchors;
  for (int page = 0; page < 300; ++page) {
    std::string text;
    const size_t length = random() % 3000;
    while (text.size() < length) text += pieces[random() % pieces.size()];
    lines.AssignText(text);
    anchors.Find(lines.Text());
    for (auto line = lines.begin(); line != lines.end(); ++line) {
      ExtractEmails(*line, full[0]);
      ExtractMobiles(*line, full[1]);
      ExtractQQNumbers(*line, full[2]);
      if (anchors.AnyIn(line.Begin(), line.End())) {
        ExtractContacts(*line, {.Emails = &marked[0], .Mobiles = &marked[1], .QQNumbers = &marked[2]});
      }
    }
  }
  for (int kind = 0; kind < 3; ++kind) {
    ASSERT_GT(full[kind].EntryCount(), 0);
    EXPECT_EQ(marked[kind].Snapshot(), full[kind].Snapshot()) << "kind " << kind;
  }
}

}  // namespace
}  // namespace qm
