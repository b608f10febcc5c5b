#pragma once
#include <string_view>

namespace qm {

// How likely a link leads to a page with an organisation's contacts, judged by its text
// (anchor text, title, image text) and by its address's path and query: pages named for
// contacting come first, pages about the organisation next, the rest last.
enum class TContactPageRank { Other = 0, About = 1, Contact = 2 };

TContactPageRank RankContactPage(std::string_view linkText, std::string_view address);

}  // namespace qm
