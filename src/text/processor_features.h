#pragma once
// What the processor the program runs on can do beyond the build's baseline, asked once.

namespace qm {

// True on an x86-64 processor with AVX2; false elsewhere.
bool ProcessorHasAvx2();

}  // namespace qm
