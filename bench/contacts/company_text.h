#pragma once
// Text of a Chinese company's site as the harvester meets it: a head of style sheets and
// scripts, navigation, paragraphs of Chinese prose with full-width punctuation, product
// tables, news lists with dates, a footer with addresses, fixed-line numbers and a
// registration number. No contact in it; the benchmark plants those.
#include <random>
#include <string>

namespace qm::bench {

// The page's head and the opening of its body, about 1 KB.
std::string CompanyPageHead(std::mt19937& rng);
// Appends one line's text (no line break).
void CompanyLine(std::mt19937& rng, std::string& out);

}  // namespace qm::bench
