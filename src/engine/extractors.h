#pragma once
// The three hand-written scanners. Each takes one line of page text and offers every
// candidate it finds to its result list, which drops a repeat of its last-accepted value.
#include <string_view>

#include "engine/result_list.h"

namespace qm {

// "@" followed by the mail domain of the QQ service; completes every QQ row.
inline constexpr std::string_view QQMailSuffix = "@qq.com";

void ExtractEmails(std::string_view line, TResultList& emails);
void ExtractMobiles(std::string_view line, TResultList& mobiles);
void ExtractQQNumbers(std::string_view line, TResultList& qqNumbers);

// The lists of the kinds being collected; a null list is a kind left out.
struct TContactLists {
  TResultList* Emails = nullptr;
  TResultList* Mobiles = nullptr;
  TResultList* QQNumbers = nullptr;
};

// The three scanners over one line at once: the same rows as calling each of them, for
// one pass over the line's bytes when the line holds nothing to look at closer.
void ExtractContacts(std::string_view line, const TContactLists& lists);

}  // namespace qm
