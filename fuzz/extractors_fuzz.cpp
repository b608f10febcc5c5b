// Any bytes as a page. Three ways of scanning it must give the same rows: the three
// scanners over every line, the one-pass scan over every line, and the one-pass scan over
// only the lines the page pass marks (as a worker scans a page). Extended recognition too
// must find on the lines its page pass marks all it finds on every line, and its scanners
// proper on the plain text of every line, with no look at the line's bytes before them; so
// must the lines the line check over the whole text (TWideLineMarks) keeps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contacts/contact_text.h"
#include "contacts/extended_contacts.h"
#include "contacts/extractors.h"
#include "contacts/page_anchors.h"
#include "contacts/wide_line_check.h"
#include "fuzz_check.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm::fuzz {
namespace {

struct TThreeLists {
  explicit TThreeLists(ui::ChangeNotifier& notifier)
      : Emails(notifier), Mobiles(notifier), QQNumbers(notifier) {}
  TContactLists All(bool extended = false) {
    TContactLists lists;
    lists.Emails = &Emails;
    lists.Mobiles = &Mobiles;
    lists.QQNumbers = &QQNumbers;
    lists.Extended = extended;
    return lists;
  }
  TResultList Emails, Mobiles, QQNumbers;
};

std::vector<std::string> Rows(const TResultList& list) {
  return list.EntryCount() == 0 ? std::vector<std::string>{} : list.Snapshot();
}

int32_t RowCount(const TThreeLists& lists) {
  return lists.Emails.EntryCount() + lists.Mobiles.EntryCount() + lists.QQNumbers.EntryCount();
}

void CheckSameRows(TThreeLists& a, TThreeLists& b, const char* what) {
  Check(Rows(a.Emails) == Rows(b.Emails), what);
  Check(Rows(a.Mobiles) == Rows(b.Mobiles), what);
  Check(Rows(a.QQNumbers) == Rows(b.QQNumbers), what);
}

}  // namespace
}  // namespace qm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qm;
  using namespace qm::fuzz;
  ui::ChangeNotifier notifier;
  TThreeLists separate(notifier), together(notifier), marked(notifier);
  TThreeLists extendedAll(notifier), extendedMarked(notifier), extendedProper(notifier);
  TThreeLists extendedChecked(notifier);
  std::string plain;
  TPageLines lines;
  lines.AssignText(std::string_view(reinterpret_cast<const char*>(data), size));
  TPageAnchors anchors, extendedAnchors;
  anchors.Find(lines.Text());
  extendedAnchors.FindExtended(lines.Text());
  TWideLineMarks wideMarks;
  wideMarks.Find(lines.Text());
  for (auto line = lines.begin(); line != lines.end(); ++line) {
    ExtractEmails(*line, separate.Emails);
    ExtractMobiles(*line, separate.Mobiles);
    ExtractQQNumbers(*line, separate.QQNumbers);
    ExtractContacts(*line, together.All());
    if (anchors.AnyIn(line.Begin(), line.End())) ExtractContacts(*line, marked.All());
    // Per line, not only the rows of the whole page: a row another line repeats must not
    // hide the line the page pass passed over.
    const int32_t extendedBefore = RowCount(extendedAll);
    ExtractContacts(*line, extendedAll.All(true));
    Check(
        RowCount(extendedAll) == extendedBefore || extendedAnchors.AnyIn(line.Begin(), line.End()),
        "the extended page pass passed over a line that gave a new row");
    ContactTextOfLine(*line, plain);
    ExtractEmailsExtended(plain, extendedProper.Emails, {});
    ExtractMobilesExtended(plain, extendedProper.Mobiles, {});
    ExtractQQNumbersExtended(plain, extendedProper.QQNumbers, {});
    if (extendedAnchors.AnyIn(line.Begin(), line.End())) {
      ExtractContacts(*line, extendedMarked.All(true));
    }
    if (wideMarks.Kinds(line.Begin(), line.End()) != 0) {
      ExtractContacts(*line, extendedChecked.All(true));
    }
  }
  CheckSameRows(separate, together, "the one-pass scan differs from the three scanners");
  CheckSameRows(separate, marked, "the page pass passed over a line with rows");
  CheckSameRows(extendedAll, extendedMarked, "the extended page pass passed over a line with rows");
  CheckSameRows(extendedProper, extendedAll,
                "the extended line check passed over a line with rows");
  CheckSameRows(extendedProper, extendedChecked,
                "the line check over the whole text passed over a line with rows");
  return 0;
}
