#pragma once

namespace qm::bench {

// Sites a plain fetch of the listed page cannot get past, harvested with the program's
// defaults: recall on error home pages, slow servers and script-written contacts, and the
// share of an ordinary mix's pages rendered in the headless browser with the cost of each.
void PrintReachFigures();

}  // namespace qm::bench
