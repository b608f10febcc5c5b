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
inline constexpr std::string_view kCp936Digits = "\xB0\xB1\xB2\xB3\xB4\xB5\xB6\xB7\xB8\xB9";

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
    {{{"uU", "iI", "nN", "="}}},
    {{{"\xEF", "\xBC", kFullWidthDigits, kAny}}},
    {{{"\xEF", "\xBC", "\x88\xA0\xB1\xBB", kAny}}},  // （ ＠ Ｑ ［
    {{{"\xEF", "\xBD", "\x91\x9B", kAny}}},          // ｑ ｛
    {{{"\xE6", "\x8D", "\xA2", kAny}}},              // 换
    {{{"\xBB", "\xBB", kAny, kAny}}},                // 换 in code page 936
    {{{"\xA3", kCp936Digits, kAny, kAny}}},
    {{{"\xA3", "\xA8\xAD\xC0\xD1\xDB\xF1\xFB", kAny, kAny}}},  // （ － ＠ Ｑ ［ ｑ ｛
    {{{"\xEF", "\xBC", "\x8D", kAny}}},                        // －
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

}  // namespace qm::extended_nibbles
