#pragma once
// What the processor the program runs on can do beyond the build's baseline, asked once.

namespace qm {

bool DetectAvx2();

// True on an x86-64 processor with AVX2; false elsewhere. Inline, as the scanners ask it
// for every line.
inline bool ProcessorHasAvx2() {
  static const bool has = DetectAvx2();
  return has;
}

}  // namespace qm
