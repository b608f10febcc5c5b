#pragma once
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

// The charset a detector (uchardet) takes the text for, as CharsetForLabel names it; empty
// when it knows none, or takes it for ASCII, UTF-8 or a GB charset.
std::string DetectNonChineseCharset(std::string_view text);

}  // namespace qm
