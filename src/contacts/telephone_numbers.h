#pragma once
// Telephone numbers: landlines with their area code (0 and two or three digits, then seven
// or eight digits not beginning with 0; in brackets, with dashes or blanks, after +86,
// (+86) or 0086, with an extension) and 400 and 800 service numbers (ten digits grouped any
// way). A number the page introduces with a label (电话, 座机, 传真, 热线, 客服, Tel, Fax, ...)
// counts in any of these forms; one without needs a shape nothing else has: its area code
// set apart by a dash, a blank or brackets, a +86, or a service number in groups. Rows are
// canonical: 0755-12345678, 0755-12345678-801 with an extension, 400-123-4567. Dates,
// prices, order and identity numbers, ICP numbers (京ICP备...号), postcodes and QQ numbers
// are none of these and give no row.
#include <string>
#include <string_view>

#include "contacts/result_list.h"

namespace qm {

// The numbers on the labelled text of a line (labelled_text.h).
void ExtractTelephoneNumbers(std::string_view text, TResultList& telephones,
                             std::string_view source);

// The canonical form of a number written at the start of `text` (labelled text), read as
// after a label when `labelled`; empty when it is none. For tests and tools.
std::string CanonicalTelephone(std::string_view text, bool labelled);

}  // namespace qm
