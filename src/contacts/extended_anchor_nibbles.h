#pragma once
// A quick test for the extended anchors other than a mobile's, loose enough to run on every
// byte of a page: the anchors go into sixteen groups of four-byte patterns, and a position
// passes when, for some group, each of its four bytes has its low and its high half (its
// nibbles) among those of that group's bytes at that place. That passes every anchor and
// a little other text, which the exact test of a line (ExtendedAnchorKinds) turns away.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace qm::extended_nibbles {

// The bytes a pattern takes at each of its four places; empty takes any byte.
struct Pattern {
  std::string_view At[4];
};

inline constexpr std::string_view kAny = {};
inline constexpr std::string_view kFullWidthDigits =
    "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99";  // EF BC 9x: ０..９
// ０..９ and ＃ （ －; the halves of these bytes also pass ！ ） ＝ and a few signs, not ，.
inline constexpr std::string_view kCp936DigitsAndSigns =
    "\xB0\xB1\xB2\xB3\xB4\xB5\xB6\xB7\xB8\xB9\xA3\xA8\xAD";

// A place passes a byte whose halves both occur among its bytes, so the ranges below of
// whole rows of sixteen bytes are each given by one row and the first byte of the others.
//
// A full-width letter may stand for any letter of an anchor ("ｃｆ", "ｕｉｎ", "[ａｔ]"), so
// all of them pass, with the few signs whose bytes lie among theirs.
inline constexpr std::string_view kFullWidthAt =  // EF BC A0..BF: ＠ Ａ..Ｚ ［ ＼ ］ ＾ ＿
    "\xA0\xA1\xA2\xA3\xA4\xA5\xA6\xA7\xA8\xA9\xAA\xAB\xAC\xAD\xAE\xAF\xB0";
inline constexpr std::string_view kFullWidthBelow =  // EF BD 80..9F: ｀ ａ..ｚ ｛ ｜ ｝ ～
    "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90";
// In code page 936 the same forms are A3 C0..FF; but A3 ends about one UTF-8 character in
// 64 and is the second byte of many code page 936 characters, and a Chinese character's
// first byte follows it (E4..E9, B0..F7), so a letter passes only before ASCII or another
// full-width form (A3), never a Chinese character's second byte.
inline constexpr std::string_view kCp936Letters =  // C0..FF
    "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0\xE0\xF0";
inline constexpr std::string_view kAsciiBytes =  // 00..7F
    std::string_view(
        "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
        "\x10\x20\x30\x40\x50\x60\x70",
        23);

// Patterns of one group share its bit, so a group is best made of patterns whose bytes have
// few halves, or another group's text would pass too (a group with "&c" and "&#" would pass
// "&copy;"). Two sets of eight groups; set 1 holds the bytes beyond ASCII.
inline constexpr std::array<std::array<Pattern, 2>, 16> kGroups = {{
    {{{"@", kAny, kAny, kAny}}},
    {{{"&", "cC", "oO", "mM"}, {"&", "pP", "eE", "rR"}}},  // &commat; &period;
    {{{"&n", "#", kAny, kAny}}},                           // &#, email-protection#
    {{{"%", "4", kAny, kAny}}},
    {{{"[({", "aA", "tT", kAny}, {"[({", "dD", "oO", kAny}}},
    {{{"c", "f", kAny, kAny}}},  // data-cfemail
    {{{"qQ", "qQ", kAny, kAny}}},
    {{{"uU", "iI", "nN", "=\xEF\xA3"}}},  // uin= and uin＝ in either reading
    {{{"\xEF", "\xBC", kFullWidthDigits, kAny}}},
    {{{"\xEF", "\xBC", kFullWidthAt, kAny}}},     // ＠ Ａ..Ｚ ［ ＼ ］ ＾ ＿
    {{{"\xEF", "\xBD", kFullWidthBelow, kAny}}},  // ｀ ａ..ｚ ｛ ｜ ｝ ～
    {{{"\xEF", "\xBC", "\x83\x88\x8D", kAny}}},   // ＃ （ －
    {{{"\xA3", kCp936DigitsAndSigns, kAny, kAny}}},
    {{{"\xA3", "\xC0\xD1\xDB\xF1\xFB", kAny, kAny}}},  // ＠ Ｑ ［ ｑ ｛ before anything
    {{{"\xA3", kCp936Letters, "\xA3", kAny}}},
    {{{"\xA3", kCp936Letters, kAsciiBytes, kAny}}},
}};

// For place k and set s: the groups (one bit each) a byte's low half allows, by that half,
// and the same for its high half.
struct Tables {
  uint8_t Low[2][4][16] = {};
  uint8_t High[2][4][16] = {};
};

constexpr Tables BuildTables() {
  Tables tables;
  for (size_t group = 0; group < kGroups.size(); ++group) {
    const size_t set = group / 8;
    const auto bit = static_cast<uint8_t>(1u << (group % 8));
    for (const Pattern& pattern : kGroups[group]) {
      if (pattern.At[0].empty()) continue;  // no pattern
      for (size_t place = 0; place < 4; ++place) {
        const std::string_view bytes = pattern.At[place];
        for (unsigned byte = 0; byte < 256; ++byte) {
          if (!bytes.empty() && bytes.find(static_cast<char>(byte)) == std::string_view::npos) {
            continue;
          }
          tables.Low[set][place][byte & 15] |= bit;
          tables.High[set][place][byte >> 4] |= bit;
        }
      }
    }
  }
  return tables;
}

inline constexpr Tables kTables = BuildTables();

// For each set, the places some pattern of it asks anything of: past them every byte passes.
constexpr std::array<size_t, 2> PlacesUsed() {
  std::array<size_t, 2> places = {};
  for (size_t group = 0; group < kGroups.size(); ++group) {
    for (const Pattern& pattern : kGroups[group]) {
      for (size_t place = 0; place < 4; ++place) {
        if (!pattern.At[place].empty()) {
          places[group / 8] = std::max(places[group / 8], place + 1);
        }
      }
    }
  }
  return places;
}

inline constexpr std::array<size_t, 2> kPlaces = PlacesUsed();
// Each place of each set costs the page pass as much; a fourth for set 1 made it about 5% slower.
static_assert(kPlaces[0] + kPlaces[1] <= 7);

}  // namespace qm::extended_nibbles
