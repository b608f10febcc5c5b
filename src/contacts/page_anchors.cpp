#include "contacts/page_anchors.h"

#include <algorithm>
#include <cstring>

#include "contacts/contact_anchors.h"
#include "contacts/extended_anchors.h"

namespace qm {
namespace {

// Every word reads the 64 bytes of its positions and the mobile look-ahead past them.
constexpr size_t kWordReach = 64 + 10;

#if defined(__x86_64__)
QM_AVX2 void FindWordsAvx2(const char* p, uint64_t* words, size_t count) {
  for (size_t w = 0; w < count; ++w, p += 64) {
    AnchorBytes32 low, high;
    low.Clear();
    high.Clear();
    low.Add(p);
    high.Add(p + 32);
    words[w] = low.AnyMask() | (static_cast<uint64_t>(high.AnyMask()) << 32);
  }
}
#endif

void FindWords(const char* p, uint64_t* words, size_t count) {
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) return FindWordsAvx2(p, words, count);
#endif
  for (size_t w = 0; w < count; ++w, p += 64) {
#if defined(__SSE2__)
    uint64_t word = 0;
    for (int block = 0; block < 4; ++block) {
      AnchorBytes16 anchors;
      anchors.Add(p + 16 * block);
      word |= static_cast<uint64_t>(anchors.AnyMask()) << (16 * block);
    }
    words[w] = word;
#else
    words[w] = ~uint64_t{0};  // no block scan here: every line is looked at
#endif
  }
}

}  // namespace

void TPageAnchors::Find(std::string_view text) {
  extended_ = false;
  const size_t n = text.size();
  words_.resize((n + 63) / 64);
  // Words whose reads stay inside the text are read in place; the last ones from a copy
  // padded with zero bytes, which make no anchor.
  const size_t inPlace = n >= kWordReach ? (n - kWordReach) / 64 + 1 : 0;
  FindWords(text.data(), words_.data(), inPlace);
  for (size_t w = inPlace; w < words_.size(); ++w) {
    char padded[128] = {};
    std::memcpy(padded, text.data() + 64 * w, std::min(n - 64 * w, sizeof padded));
    FindWords(padded, &words_[w], 1);
  }
}

void TPageAnchors::FindExtended(std::string_view text) {
  extended_ = true;
  constexpr size_t kReach = 64 + kExtendedAnchorLookAhead;
  const size_t n = text.size();
  words_.resize((n + 63) / 64);
  const size_t inPlace = n >= kReach ? (n - kReach) / 64 + 1 : 0;
  ExtendedAnchorWords(text.data(), words_.data(), inPlace);
  for (size_t w = inPlace; w < words_.size(); ++w) {
    char padded[128] = {};
    std::memcpy(padded, text.data() + 64 * w, std::min(n - 64 * w, sizeof padded));
    words_[w] = ExtendedAnchorWord(padded);
  }
}

bool TPageAnchors::AnyIn(size_t begin, size_t end) const {
  end = std::min(end, 64 * words_.size());
  if (begin >= end) return false;
  const size_t first = begin / 64, last = (end - 1) / 64;
  const uint64_t head = words_[first] & (~uint64_t{0} << (begin % 64));
  const uint64_t tailMask = ~uint64_t{0} >> (63 - (end - 1) % 64);
  if (first == last) return (head & tailMask) != 0;
  if (head != 0) return true;
  for (size_t w = first + 1; w < last; ++w) {
    if (words_[w] != 0) return true;
  }
  return (words_[last] & tailMask) != 0;
}

}  // namespace qm
