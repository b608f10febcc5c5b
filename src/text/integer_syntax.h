#pragma once
// The two ways the program reads integers from text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The syntax of typed and stored numbers: leading blanks skipped, then an optionally signed
// decimal number, or (without a sign) a hexadecimal number after "$", "x" or "0x" (either
// letter case) of at most eight digits taken as a 32-bit pattern. Nothing may follow.
// Empty text, any other character or a decimal value outside the 32-bit range is invalid.
std::optional<int32_t> ParseInteger(std::string_view text);

// ParseInteger, throwing EConvertError "'%s' is not a valid integer value" when invalid.
int32_t StrToInt(std::string_view text);

// ParseInteger with a default for invalid text.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

// The HTTP client's narrower reading: hexadecimal after "$" (at most eight digits, as a
// 32-bit pattern) or an optionally signed decimal number; nothing else, no blanks.
std::optional<int32_t> ParseHttpNumber(std::string_view text);

// The value of a hexadecimal digit (either letter case), or -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The conversion message for text that is not an integer.
std::string NotAnIntegerMessage(std::string_view text);

}  // namespace qm
