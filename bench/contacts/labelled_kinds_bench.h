#pragma once
// WeChat IDs and telephone numbers: precision and recall of each on pages with planted
// contacts of all five kinds in the forms Chinese company pages write them and planted
// decoys (dates, prices, order, identity and ICP numbers, postcodes, QQ numbers, WeChat
// words of markup and prose), half of the pages in code page 936; then the default scan
// (extended recognition, the page passes and the scanners as a worker runs them) with the
// three kinds and with all five, next to ripgrep with the three plain patterns.
#include <cstddef>

namespace qm::bench {

// `megabytes` of pages for the rates.
void PrintLabelledKinds(size_t megabytes);

}  // namespace qm::bench
