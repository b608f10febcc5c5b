#include "text/integer_syntax.h"

#include <gtest/gtest.h>

#include "text/errors.h"

namespace qm {
namespace {

struct IntegerCase {
  const char* text;
  std::optional<int32_t> expected;
};

TEST(ParseInteger, AcceptsTheSettingsSyntaxAndNothingElse) {
  const IntegerCase cases[] = {
      {"0", 0},
      {"57", 57},
      {"+57", 57},
      {"-57", -57},
      {"   12", 12},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"0x1A", 26},
      {"0X1a", 26},
      {"x1A", 26},
      {"X1a", 26},
      {"$1A", 26},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$123456789", std::nullopt},
      {"-$1", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"12 ", std::nullopt},
      {"12a", std::nullopt},
      {"abc", std::nullopt},
      {"+", std::nullopt},
      {"\t12", std::nullopt},
      {"256", 256},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseInteger(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(ParseHttpNumber, TakesDollarHexOrSignedDecimalOnly) {
  const IntegerCase cases[] = {
      {"1024", 1024},     {"-1", -1},         {"$1a", 26},          {"$1A", 26},
      {"$80000000", INT32_MIN}, {"0x1a", std::nullopt}, {"x1a", std::nullopt},
      {" 12", std::nullopt}, {"1a;n=v", std::nullopt}, {"", std::nullopt},
      {"4294967296", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseHttpNumber(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(StrToInt, ThrowsTheConversionMessage) {
  EXPECT_EQ(StrToInt(" 42"), 42);
  try {
    StrToInt("4x");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'4x' is not a valid integer value");
  }
  try {
    StrToInt("");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  EXPECT_EQ(StrToIntDef("abc", 7), 7);
}

}  // namespace
}  // namespace qm
