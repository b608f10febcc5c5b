#pragma once
// A failed expectation in a fuzz target: says what differed and aborts, which libFuzzer
// reports as a finding with the input that caused it.
#include <cstdio>
#include <cstdlib>

namespace qm::fuzz {

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

}  // namespace qm::fuzz
