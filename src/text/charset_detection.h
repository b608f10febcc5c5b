#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// True when text that is not UTF-8 reads well as GB18030: its bytes beyond ASCII form
// GB18030's characters (a stray byte or two forgiven), most two-byte ones in GB2312's
// area, and enough of them past the Hangul rows that EUC-KR shares with it.
bool IsPlausibleGb18030(std::string_view text);

enum class TGb18030Reading { FourByteCharacters, Plausible, Implausible };
// In one pass: FourByteCharacters when HasGb18030FourByteCharacter(text) (page_charset.h),
// else Plausible when IsPlausibleGb18030(text), else Implausible.
TGb18030Reading ReadAsGb18030(std::string_view text);

// What a walk over text read as GB18030 characters counts; ReadAsGb18030 decides by it.
struct TGb18030Tally {
  size_t Broken = 0;          // bytes that start no character
  size_t Pairs = 0;           // two-byte characters
  size_t Gb2312Area = 0;      // of them, in GB2312's area
  size_t PastHangulRows = 0;  // of them, led by a byte past the rows EUC-KR shares
  // Looked for only when asked; the walk stops at the first, its counts partial.
  bool FourByteCharacter = false;
};
// How the walk reads the bytes: a byte at a time, or in blocks with SSE2 (where the build
// has it), or with the widest blocks the processor has.
enum class TGb18030Blocks { None, Sse2, Widest };
TGb18030Tally TallyGb18030(std::string_view text, bool findFourByte,
                           TGb18030Blocks blocks = TGb18030Blocks::Widest);

// The charset a detector (uchardet) takes the text for, as CharsetForLabel names it; empty
// when it knows none, or takes it for ASCII, UTF-8 or a GB charset.
std::string DetectNonChineseCharset(std::string_view text);

}  // namespace qm
