#pragma once
// The bytes that make text worth a look by the extended scanners: every finding of theirs
// holds one. For e-mail: an "@", a character reference "&#", "&com" (&commat;) or "&per"
// (&period;), "%4" (%40), a spelled "[at" "(at" "{at" "[do" "(do" "{do", "cf"
// (data-cfemail) and "n#" (email-protection#); for mobiles: a "1" with digits five and ten bytes
// on, as the plain scanners; for QQ numbers: "qq" and "uin=" (or "uin＝") in any case; and the
// full-width forms that stand for digits, letters, "＠", "＃", brackets and the hyphen of a grouped
// mobile, in UTF-8 and code page 936: a letter's form may stand in any anchor ("ｕｉｎ=",
// "[ａｔ]", "data-ｃｆemail"). The 换 of "把#换成@" is none: that line holds an "@" too.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

// Bytes read past the last position a block marks.
inline constexpr size_t kExtendedAnchorLookAhead = 10;

// Bit k set where an anchor starts at p[k], for k < 64; reads 64 + 10 bytes.
uint64_t ExtendedAnchorWord(const char* p);
// The same for `count` words at p, p + 64, ...; 32 bytes at a time where the processor has
// AVX2, and then by a quicker test that also sets the bits of a few positions that only
// look like an anchor (extended_anchor_nibbles.h).
void ExtendedAnchorWords(const char* p, uint64_t* words, size_t count);

enum : unsigned { kExtendedMobileAnchor = 1, kExtendedOtherAnchor = 2 };
// Which anchors start in `text`: only a mobile's, another (reported with the mobile bit
// too, which is then not looked for), or none. A line holding a byte beyond ASCII is
// judged by WideLineKinds (wide_line_check.h), so a line reported with only mobile anchors
// reads the same for them in its bytes and in its plain text. Where the processor has
// AVX2, the quicker test of ExtendedAnchorWords stands for the other anchors on a line of
// ASCII: the few lines it takes needlessly are only read in full.
unsigned ExtendedAnchorKinds(std::string_view text);

}  // namespace qm
