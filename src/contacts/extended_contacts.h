#pragma once
// The scanners of extended recognition: contacts as pages write them (mixed case, character
// references, full-width forms, spelled signs, grouped and prefixed mobile numbers, labelled
// QQ numbers, protected e-mail addresses), each given in canonical form: e-mail in lower
// case, mobiles as 11 digits, QQ numbers with the mail suffix. They drop what only looks
// like a contact: file names and package versions with an "@", digits cut from a longer
// number, numbers that no QQ label introduces.
#include <string>
#include <string_view>

#include "contacts/extractors.h"

namespace qm {

// All three kinds the lists ask for, on one line; most lines are dismissed by a look at
// their bytes (extended_anchors.h) before any is read closer.
void ExtractExtendedContacts(std::string_view line, const TContactLists& lists);

// The scanners proper, on the plain text of a line (contact_text.h).
void ExtractEmailsExtended(std::string_view plain, TResultList& emails, std::string_view source);
void ExtractMobilesExtended(std::string_view plain, TResultList& mobiles, std::string_view source);
void ExtractQQNumbersExtended(std::string_view plain, TResultList& qqNumbers,
                              std::string_view source);

// The address `local`@`domain` in lower case, or empty when it is no address: a local part
// of 1 to 64 characters without "..", a domain of dot-separated labels whose last is 2 to 24
// letters (or an "xn--" label) and not the extension of an image, style sheet, script or
// font file.
std::string CanonicalEmail(std::string_view local, std::string_view domain);

// The address hidden in the hex text of a protected e-mail (first byte the key, each
// further byte the character XOR the key), or empty.
std::string DecodeProtectedEmail(std::string_view hex);

}  // namespace qm
