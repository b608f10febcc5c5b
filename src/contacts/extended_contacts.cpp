#include "contacts/extended_contacts.h"

#include <algorithm>
#include <memory>

#include "contacts/contact_text.h"
#include "contacts/extended_anchors.h"

namespace qm {

void ExtractExtendedContacts(std::string_view line, const TContactLists& lists) {
  const unsigned kinds = ExtendedAnchorKinds(line);
  if (kinds == 0) return;
  if (kinds == kExtendedMobileAnchor) {
    // A line of ASCII without other anchors is its own plain text as far as mobiles go, and
    // nothing else on it can be a contact.
    if (lists.Mobiles != nullptr) ExtractMobilesExtended(line, *lists.Mobiles, lists.Source);
    return;
  }
  // One buffer per worker thread, reused line after line and only ever written: a string
  // grown for each line would fill it with zeros first.
  thread_local std::unique_ptr<char[]> buffer;
  thread_local size_t room = 0;
  if (room < line.size()) {
    room = std::max(line.size(), 2 * room);
    buffer = std::make_unique_for_overwrite<char[]>(room);
  }
  const std::string_view plain(buffer.get(), ContactTextOfLine(line, buffer.get()));
  if (lists.Emails != nullptr) ExtractEmailsExtended(plain, *lists.Emails, lists.Source);
  if (lists.Mobiles != nullptr) ExtractMobilesExtended(plain, *lists.Mobiles, lists.Source);
  if (lists.QQNumbers != nullptr) {
    ExtractQQNumbersExtended(plain, *lists.QQNumbers, lists.Source);
  }
}

}  // namespace qm
