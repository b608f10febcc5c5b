#pragma once
// Writing the appends of the result lists to standard output: the kind, a tab, the row as
// the list holds it, a tab, the address of the page it was found on, a tab, the row's check
// flags, a line feed.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/result_list.h"
#include "verify/contact_verifier.h"

namespace qm::cli {

inline constexpr std::string_view kEmailKind = "email";
inline constexpr std::string_view kMobileKind = "mobile";
inline constexpr std::string_view kQQKind = "qq";
inline constexpr std::string_view kWeChatKind = "wechat";
inline constexpr std::string_view kTelephoneKind = "phone";

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row,
              std::string_view source, std::string_view checks = {});

// Until when rows wait for their checks: held back while their lookups are pending
// (nullopt), or written by then with what is known (a lookup still pending: "unchecked").
using TCheckWait = std::optional<verify::TContactVerifier::Clock::time_point>;

// Follows one result list that other threads append to, writing each row once, in order,
// with its checks when a verifier is given.
class ListFollower {
 public:
  // The first `alreadyShown` rows are not written (rows a resumed run restored). `checkKind`
  // is the list's kind for the verifier (verify::kEmailRow, ...).
  ListFollower(const TResultList& list, std::string_view kind, size_t alreadyShown = 0,
               std::shared_ptr<verify::TContactVerifier> verifier = nullptr, int checkKind = 0)
      : list_(list), kind_(kind), shown_(alreadyShown), verifier_(std::move(verifier)),
        checkKind_(checkKind) {}
  // Writes the rows appended since the last call whose checks are done, or all of them
  // when `wait` says until when; returns how many.
  size_t WriteNewRows(std::FILE* out, TCheckWait wait = {});
  bool HasNewRows() const { return static_cast<size_t>(list_.EntryCount()) > shown_; }

 private:
  const TResultList& list_;
  std::string_view kind_;
  size_t shown_ = 0;
  std::shared_ptr<verify::TContactVerifier> verifier_;
  int checkKind_ = 0;
  // A row taken from the list: its line up to the checks in staged_.
  struct StagedRow {
    size_t LineAt;
    size_t ValueSize;
    size_t LineEnd;
  };
  std::string text_;  // the lines of one call, kept for its buffer
  std::string staged_;
  std::vector<StagedRow> stagedRows_;
};

inline bool AnyNewRows(std::span<const ListFollower> followers) {
  for (const ListFollower& follower : followers) {
    if (follower.HasNewRows()) return true;
  }
  return false;
}

// Standard output as the channel of a run's rows: the first failed write is remembered with
// its reason, and nothing is written after it.
class RowOutput {
 public:
  // Writes the rows appended since the last call and flushes them; true when there were any.
  bool WriteNewRows(std::span<ListFollower> followers, TCheckWait wait = {});
  void Flush();
  bool Failed() const { return error_ != 0; }
  // The failure in words.
  std::string Failure() const;

 private:
  void Fail();
  int error_ = 0;  // errno of the first failure
};

}  // namespace qm::cli
