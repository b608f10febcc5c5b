#pragma once
// Writing the appends of the result lists to standard output: the kind, a tab, the row as
// the list holds it, a tab, the address of the page it was found on, a line feed.
#include <cstdio>
#include <string_view>

#include "engine/result_list.h"

namespace qm::cli {

inline constexpr std::string_view kEmailKind = "email";
inline constexpr std::string_view kMobileKind = "mobile";
inline constexpr std::string_view kQQKind = "qq";

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row,
              std::string_view source);

// Follows one result list that other threads append to, writing each row once.
class ListFollower {
 public:
  ListFollower(const TResultList& list, std::string_view kind) : list_(list), kind_(kind) {}
  // Writes the rows appended since the last call; returns how many.
  size_t WriteNewRows(std::FILE* out);

 private:
  const TResultList& list_;
  std::string_view kind_;
  size_t shown_ = 0;
};

}  // namespace qm::cli
