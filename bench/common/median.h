#pragma once
// The middle of a benchmark's rounds: steadier than their mean on a shared machine.
#include <algorithm>
#include <vector>

namespace qm::bench {

template <class T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace qm::bench
