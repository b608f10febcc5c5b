#pragma once
// WeChat IDs, only where the page introduces them with a label (微信, 微信号, 威信, V信,
// weixin, wechat, wx, vx, in any case and form; a label of ASCII letters only with a colon
// after it): 6 to 20 letters, digits, "_" or "-" beginning with a letter, in lower case as
// the service does not tell cases apart; or a mobile number, as 11 digits (such a number is
// a mobile row as well). "13812345678（微信同号）" gives the number before the label.
#include <string_view>

#include "contacts/result_list.h"

namespace qm {

// The IDs on the labelled text of a line (labelled_text.h).
void ExtractWeChatIds(std::string_view text, TResultList& wechatIds, std::string_view source);

}  // namespace qm
