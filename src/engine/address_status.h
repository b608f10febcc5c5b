#pragma once
// What became of every address a run took: one record per page fetched (the listed page of a
// line, and the pages of its site followed from it), added as the page ends, in the order
// pages end.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "contacts/contact_kinds.h"

namespace qm {

struct TAddressStatus {
  int32_t LineNumber = 0;  // the line of the list, counted from 1 at the file's start
  std::string Url;         // the address as the line gave it, or the followed link's
  // How many links from the listed page this page was reached by (0: the listed page), and
  // the listed page's address.
  int32_t Depth = 0;
  std::string ListedUrl;
  std::string FinalUrl;    // the address whose answer was the page, after redirects
  int32_t StatusCode = 0;  // 0 when no answer with a status line came
  uint64_t BytesReceived = 0;
  int64_t Milliseconds = 0;  // from the first connection attempt to the end of the answer
  // Empty when the page was read; else why not, in words.
  std::string FailureReason;
  // Rows the page added to each list (e-mail, mobile, QQ, WeChat, telephone).
  TKindCounts RowsAdded{};
  // A line not fetched by design (a blank line, a page the run had fetched already): its
  // reason says so, but nothing failed.
  bool Skipped = false;

  bool Failed() const { return !FailureReason.empty() && !Skipped; }
};

// A record's fields in the order status lists write them: line number, address, final
// address, HTTP status, bytes, milliseconds, failure reason, the e-mail, mobile and QQ rows
// added, depth, listed address, the WeChat and telephone rows added (last, so that readers
// of the first twelve fields read them as before).
inline constexpr size_t kStatusFieldCount = 14;
std::array<std::string, kStatusFieldCount> StatusFields(const TAddressStatus& status);

// The reason of a fetch that gave an answer: an error status fails the address as well,
// since the page asked for is not there; empty for any other answer.
std::string HttpStatusFailure(int32_t statusCode);

class TAddressStatusList {
 public:
  using Listener = std::function<void(const TAddressStatus&)>;

  void Clear();
  // Adds a record and hands it to the listener, both under the list's lock, so a listener
  // sees the records one at a time and in the list's order.
  void Add(TAddressStatus status);
  std::vector<TAddressStatus> Snapshot() const;
  size_t Count() const;
  int32_t FailedCount() const;
  void SetListener(Listener listener);
  // Off: records go to the listener and are counted, but not kept (a caller that writes
  // them out as they come needs no copy of a million of them).
  void SetKeepRecords(bool keep);

 private:
  mutable std::mutex mutex_;
  std::vector<TAddressStatus> records_;
  size_t count_ = 0;
  int32_t failed_ = 0;
  bool keep_ = true;
  Listener listener_;
};

}  // namespace qm
