#include "engine/extended_contacts.h"

#include "engine/contact_text.h"
#include "engine/extended_anchors.h"

namespace qm {

void ExtractExtendedContacts(std::string_view line, const TContactLists& lists) {
  if (!HasExtendedAnchor(line)) return;
  // One buffer per worker thread, reused line after line.
  thread_local std::string plain;
  ContactTextOfLine(line, plain);
  if (lists.Emails != nullptr) ExtractEmailsExtended(plain, *lists.Emails, lists.Source);
  if (lists.Mobiles != nullptr) ExtractMobilesExtended(plain, *lists.Mobiles, lists.Source);
  if (lists.QQNumbers != nullptr) {
    ExtractQQNumbersExtended(plain, *lists.QQNumbers, lists.Source);
  }
}

}  // namespace qm
