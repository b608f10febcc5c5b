#pragma once
// The three hand-written scanners. Each takes one line of page text and offers every
// candidate it finds to its result list, which drops a repeat of its last-accepted value.
#include <string_view>

#include "contacts/result_list.h"

namespace qm {

// "@" followed by the mail domain of the QQ service; completes every QQ row.
inline constexpr std::string_view QQMailSuffix = "@qq.com";

// `source` is the address of the page the line comes from, kept with every row appended.
void ExtractEmails(std::string_view line, TResultList& emails, std::string_view source);
void ExtractMobiles(std::string_view line, TResultList& mobiles, std::string_view source);
void ExtractQQNumbers(std::string_view line, TResultList& qqNumbers, std::string_view source);
inline void ExtractEmails(std::string_view line, TResultList& emails) {
  ExtractEmails(line, emails, {});
}
inline void ExtractMobiles(std::string_view line, TResultList& mobiles) {
  ExtractMobiles(line, mobiles, {});
}
inline void ExtractQQNumbers(std::string_view line, TResultList& qqNumbers) {
  ExtractQQNumbers(line, qqNumbers, {});
}

// The lists of the kinds being collected; a null list is a kind left out.
struct TContactLists {
  TResultList* Emails = nullptr;
  TResultList* Mobiles = nullptr;
  TResultList* QQNumbers = nullptr;
  // The page's address.
  std::string_view Source = {};
  // The forms pages write beyond plain lower-case ASCII, in canonical form
  // (extended_contacts.h); off, the three scanners above.
  bool Extended = false;
  // The kinds beside the three, each read from labels and shapes of its own
  // (labelled_kinds.h); both left out by default.
  TResultList* WeChatIds = nullptr;
  TResultList* Telephones = nullptr;
};

// The three scanners over one line at once: the same rows as calling each of them, for
// one pass over the line's bytes when the line holds nothing to look at closer. The
// WeChat IDs and telephone numbers too when their lists are given.
void ExtractContacts(std::string_view line, const TContactLists& lists);

}  // namespace qm
