// qmharvest-cli scan [--email] [--mobile] [--qq] [--wechat] [--phone] [--no-extended]
//                    [--no-unique] [--no-verify]
//                    [--resolver ADDR:PORT] FILE...
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/row_output.h"
#include "cli/verify_options.h"
#include "contacts/contact_kinds.h"
#include "contacts/extractors.h"
#include "contacts/page_anchors.h"
#include "contacts/wide_line_check.h"
#include "text/line_split.h"
#include "ui/change_notifier.h"

namespace qm::cli {

const char* const kScanHelp =
    "Usage: qmharvest-cli scan [--email] [--mobile] [--qq] [--wechat] [--phone]\n"
    "                          [--no-extended] [--no-unique] [--no-verify]\n"
    "                          [--resolver ADDR:PORT] FILE...\n"
    "\n"
    "Cuts each file (\"-\" is standard input) into lines as a page fetch does and runs the\n"
    "chosen extractors (e-mail, mobile and QQ when none is named) on every line in order,\n"
    "with one set of last-accepted values for the whole call, as one worker of a search\n"
    "would. Each append is written as it happens: the kind (email, mobile, qq, wechat or\n"
    "phone), a tab, the row as the result list holds it, a tab, the FILE it was found in, a\n"
    "tab, the row's check flags\n"
    "(ok, or no-mail, bad-tld, too-long, role, disposable, bad-range, unchecked joined by\n"
    "commas), a line feed. A row waits for its e-mail domain's lookup, never past its\n"
    "deadline, and keeps its order.\n"
    "\n"
    "  --email        e-mail addresses\n"
    "  --mobile       mobile numbers\n"
    "  --qq           QQ numbers (written with their mail suffix)\n"
    "  --wechat       WeChat IDs after a label (微信, wx, ...), in lower case\n"
    "  --phone        telephone numbers: landlines as 0755-12345678, 400 and 800 numbers\n"
    "                 as 400-123-4567\n"
    "  --no-extended  only the plain lower-case forms of contacts, as the first version\n"
    "  --no-unique    append a value again unless it repeats the list's last one\n"
    "  --no-verify    ask no DNS server; e-mails that pass the other checks are unchecked\n"
    "  --resolver ADDR:PORT  the DNS server to ask (default the system's resolvers)\n";

namespace {

struct Kind {
  std::string_view Name;
  TResultList* List;
  int CheckKind;
};

// A row found and not yet written: it waits for its check.
struct PendingRow {
  std::string_view Kind;
  int CheckKind;
  std::string Value;
  std::string Source;
};

class Scanner {
 public:
  Scanner(const TContactLists& lists, std::vector<Kind> kinds, verify::TContactVerifier& verifier)
      : lists_(lists), kinds_(std::move(kinds)), verifier_(verifier) {}

  // Writes the rows whose checks are done, in the order found; with `wait`, every row,
  // waiting for checks until then.
  void WriteChecked(TCheckWait wait = {}) {
    while (!pending_.empty()) {
      const PendingRow& row = pending_.front();
      std::optional<verify::TRowCheck> check =
          wait ? verifier_.Check(row.CheckKind, row.Value, *wait)
               : verifier_.CheckIfSettled(row.CheckKind, row.Value);
      if (!check) return;
      WriteRow(stdout, row.Kind, row.Value, row.Source, check->Flags);
      pending_.pop_front();
    }
  }

  // The name rows found from now on are credited to.
  void SetSource(const std::string& source) {
    source_ = source;
    lists_.Source = source_;
  }

  void ScanLines(std::string_view text) {
    MarkLines(text);
    ForEachLine(text, [&](size_t begin, size_t end) {
      if (!MayHaveRows(begin, end)) return WriteChecked();
      const std::string_view line = text.substr(begin, end - begin);
      ExtractContacts(line, lists_);
      for (const Kind& kind : kinds_) {
        // Written and dropped at once; clearing keeps the last-accepted value.
        if (kind.List->EntryCount() == 0) continue;
        for (TResultEntry& entry : kind.List->Entries()) {
          verifier_.Request(kind.CheckKind, entry.Value);
          pending_.push_back(
              {kind.Name, kind.CheckKind, std::move(entry.Value), std::move(entry.Source)});
        }
        kind.List->Clear();
      }
      WriteChecked();
    });
  }

 private:
  // One pass over the text finds the lines the three kinds may take a row from, as a worker's
  // page pass does; with other kinds every line is looked at.
  bool OnlyTheThreeKinds() const {
    return lists_.WeChatIds == nullptr && lists_.Telephones == nullptr;
  }
  void MarkLines(std::string_view text) {
    if (!OnlyTheThreeKinds()) return;
    if (lists_.Extended) {
      wideMarks_.Find(text);
    } else {
      anchors_.Find(text);
    }
  }
  bool MayHaveRows(size_t begin, size_t end) const {
    if (!OnlyTheThreeKinds()) return true;
    return lists_.Extended ? wideMarks_.Kinds(begin, end) != 0 : anchors_.AnyIn(begin, end);
  }

  TWideLineMarks wideMarks_;
  TPageAnchors anchors_;
  TContactLists lists_;
  std::vector<Kind> kinds_;
  verify::TContactVerifier& verifier_;
  std::deque<PendingRow> pending_;
  std::string source_;
};

// Reads the file in pieces, each cut after a line feed (always the end of a line), so a
// file of any size is scanned in little memory. False with errno set on a read error.
bool ScanFile(int fd, Scanner& scanner) {
  constexpr size_t kPiece = 1 << 20;
  // Grown only for a line longer than what it holds: growing a string for every piece would
  // fill it with zeros first.
  std::string buffer;
  size_t kept = 0;  // bytes at the front not handed on yet, after the last line feed
  for (;;) {
    if (buffer.size() < kept + kPiece) buffer.resize(kept + kPiece);
    const ssize_t got = ::read(fd, buffer.data() + kept, kPiece);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    const size_t filled = kept + static_cast<size_t>(got);
    const std::string_view data(buffer.data(), filled);
    if (got == 0) {
      scanner.ScanLines(data);
      return true;
    }
    // Only the new bytes can hold a line feed: the kept ones follow the last one.
    const void* lastFeed = ::memrchr(buffer.data() + kept, '\n', static_cast<size_t>(got));
    kept = filled;
    if (lastFeed) {
      const size_t scanned =
          static_cast<size_t>(static_cast<const char*>(lastFeed) - buffer.data()) + 1;
      scanner.ScanLines(data.substr(0, scanned));
      std::memmove(buffer.data(), buffer.data() + scanned, filled - scanned);
      kept = filled - scanned;
    }
  }
}

}  // namespace

int RunScan(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(
      args, {{"--email", "--mobile", "--qq", "--wechat", "--phone", "--no-extended",
              "--no-unique", "--no-verify"},
             {"--resolver"}});
  if (parsed.Operands().empty()) throw UsageError("scan needs at least one FILE");
  const bool all = !parsed.Has("--email") && !parsed.Has("--mobile") && !parsed.Has("--qq") &&
                   !parsed.Has("--wechat") && !parsed.Has("--phone");

  ui::ChangeNotifier notifier;
  TResultList emails(notifier), mobiles(notifier), qqNumbers(notifier), wechatIds(notifier),
      telephones(notifier);
  TContactLists lists;
  if (all || parsed.Has("--email")) lists.Emails = &emails;
  if (all || parsed.Has("--mobile")) lists.Mobiles = &mobiles;
  if (all || parsed.Has("--qq")) lists.QQNumbers = &qqNumbers;
  if (parsed.Has("--wechat")) lists.WeChatIds = &wechatIds;
  if (parsed.Has("--phone")) lists.Telephones = &telephones;
  lists.Extended = !parsed.Has("--no-extended");
  for (TResultList* list : {&emails, &mobiles, &qqNumbers, &wechatIds, &telephones}) {
    list->BeginRun(!parsed.Has("--no-unique"));
  }
  std::vector<Kind> kinds = {{kEmailKind, &emails, verify::kEmailRow},
                             {kMobileKind, &mobiles, verify::kMobileRow},
                             {kQQKind, &qqNumbers, verify::kQQRow},
                             {kWeChatKind, &wechatIds, kWeChatList},
                             {kTelephoneKind, &telephones, kTelephoneList}};
  verify::TVerifyOptions checks;
  checks.Lookups = !parsed.Has("--no-verify");
  checks.Resolver = ResolverOption(parsed);
  verify::TContactVerifier verifier(checks);
  Scanner scanner(lists, std::move(kinds), verifier);

  int status = kExitSuccess;
  for (const std::string& name : parsed.Operands()) {
    const bool standardInput = name == "-";
    scanner.SetSource(name);
    const int fd = standardInput ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !ScanFile(fd, scanner)) {
      std::fprintf(stderr, "qmharvest-cli: cannot read %s: %s\n", name.c_str(),
                   std::strerror(errno));
      status = kExitFailure;
    }
    if (fd >= 0 && !standardInput) ::close(fd);
  }
  scanner.WriteChecked(verify::TContactVerifier::Clock::time_point::max());
  if (std::fflush(stdout) != 0) {
    std::perror("qmharvest-cli: standard output");
    return kExitFailure;
  }
  return status;
}

}  // namespace qm::cli
