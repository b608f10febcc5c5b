#pragma once
// The result lists in their order: the three of the first version (e-mail, mobile, QQ),
// then WeChat IDs and telephone numbers. A list's index is its kind wherever rows or counts
// are kept: the store's rows, a page's record, the exports.
#include <array>
#include <cstdint>

namespace qm {

inline constexpr int kEmailList = 0;
inline constexpr int kMobileList = 1;
inline constexpr int kQQList = 2;
inline constexpr int kWeChatList = 3;
inline constexpr int kTelephoneList = 4;
inline constexpr int kContactKindCount = 5;

// Rows of each kind (a page's, a run's).
using TKindCounts = std::array<int32_t, kContactKindCount>;

}  // namespace qm
