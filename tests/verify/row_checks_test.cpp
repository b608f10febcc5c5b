// The checks that need no network: lengths, the Public Suffix List, role local parts,
// throwaway domains, the mobile number plan, and the flag words.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "verify/check_flags.h"
#include "verify/contact_verifier.h"
#include "verify/public_suffixes.h"

namespace qm::verify {
namespace {

TVerifyOptions WithoutLookups() {
  TVerifyOptions options;
  options.Lookups = false;
  return options;
}

TEST(RowChecks, EachRowGetsTheFlagsOfWhatIsWrongWithIt) {
  TContactVerifier verifier(WithoutLookups());
  const std::string label63(63, 'a');
  const std::string local64(64, 'b');
  struct Case {
    int Kind;
    std::string Row;
    std::string Flags;
  } cases[] = {
      // Lookups off: an address nothing else is wrong with is not known to take mail.
      {kEmailRow, "alice@example.com", "unchecked"},
      {kEmailRow, local64 + "@example.com", "unchecked"},
      {kEmailRow, local64 + "b@example.com", "too-long"},
      {kEmailRow, "a@" + label63 + ".com", "unchecked"},
      {kEmailRow, "a@" + label63 + "a.com", "too-long"},
      {kEmailRow, "a@x..com", "too-long"},
      {kEmailRow, local64 + "@" + label63 + "." + label63 + "." + label63 + ".com", "too-long"},
      {kEmailRow, "a@example.notatld", "bad-tld"},
      {kEmailRow, "a@example.png", "bad-tld"},
      {kEmailRow, "a@com.cn", "bad-tld"},     // a public suffix, nobody's domain
      {kEmailRow, "a@shop.com.cn", "unchecked"},
      {kEmailRow, "a@xn--fiqs8s", "bad-tld"},  // the top-level domain itself
      {kEmailRow, "a@shop.xn--fiqs8s", "unchecked"},  // internationalised TLD, ASCII form
      {kEmailRow, "info@example.com", "role,unchecked"},
      {kEmailRow, "no-reply@example.com", "role,unchecked"},
      {kEmailRow, "No_Reply+news@example.com", "role,unchecked"},
      {kEmailRow, "webmaster@example.com", "role,unchecked"},
      {kEmailRow, "information.desk@example.com", "unchecked"},
      {kEmailRow, "abuse@example.com", "role,unchecked"},
      {kEmailRow, "Customer.Service@example.com", "role,unchecked"},
      {kEmailRow, "customerservices@example.com", "unchecked"},
      {kEmailRow, "mailer-daemon@example.com", "role,unchecked"},
      {kEmailRow, "zhaopin@example.com", "role,unchecked"},
      {kEmailRow, "zhaopinx@example.com", "unchecked"},
      {kEmailRow, "@example.com", "unchecked"},
      {kEmailRow, "x@mailinator.com", "disposable"},
      {kEmailRow, "x@inbox.mailinator.com", "disposable"},
      {kEmailRow, "x@plainmailinator.com", "unchecked"},
      {kEmailRow, "sales@mailinator.com", "role,disposable"},
      {kMobileRow, "13800138000", "ok"},
      {kMobileRow, "14512345678", "ok"},
      {kMobileRow, "14412345678", "bad-range"},
      {kMobileRow, "15012345678", "ok"},
      {kMobileRow, "15412345678", "bad-range"},
      {kMobileRow, "16212345678", "ok"},
      {kMobileRow, "16312345678", "bad-range"},
      {kMobileRow, "17012345678", "ok"},
      {kMobileRow, "17412345678", "bad-range"},
      {kMobileRow, "17812345678", "ok"},
      {kMobileRow, "18912345678", "ok"},
      {kMobileRow, "19412345678", "bad-range"},
      {kMobileRow, "19912345678", "ok"},
      {kMobileRow, "12012345678", "bad-range"},
      {kMobileRow, "1381234567", "bad-range"},
      {kQQRow, "12345@qq.com", "ok"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(verifier.Check(c.Kind, c.Row).Flags, c.Flags) << c.Row;
    const std::optional<TRowCheck> settled = verifier.CheckIfSettled(c.Kind, c.Row);
    ASSERT_TRUE(settled.has_value()) << c.Row;
    EXPECT_EQ(settled->Flags, c.Flags) << c.Row;
    EXPECT_EQ(verifier.SettledFlags(c.Kind, c.Row), std::optional<std::string_view>(c.Flags))
        << c.Row;
  }
  EXPECT_EQ(verifier.Check(kEmailRow, "alice@example.com").Reason, "lookups are off");
}

TEST(RowChecks, WithoutTheSuffixListNoDomainIsCalledBad) {
  test::TempDir dir;
  TVerifyOptions options = WithoutLookups();
  options.PublicSuffixFile = dir.File("missing.dat");
  TContactVerifier verifier(options);
  EXPECT_EQ(verifier.Check(kEmailRow, "a@example.notatld").Flags, "unchecked");
}

TEST(PublicSuffixes, WildcardsExceptionsAndInternationalRules) {
  const TPublicSuffixList list = TPublicSuffixList::Parse(
      "// comment\n"
      "com\n"
      "cn\r\n"
      "com.cn extra words\n"
      "*.ck\n"
      "!www.ck\n"
      "公司.cn\n"
      "中国\n"
      "\n");
  struct Case {
    const char* Domain;
    bool Known;
    bool Suffix;
  } cases[] = {
      {"example.com", true, false},   {"com", true, true},
      {"com.", true, true},           {"com.cn", true, true},
      {"shop.com.cn", true, false},   {"foo.ck", true, true},
      {"www.ck", true, false},        {"a.foo.ck", true, false},
      {"xn--55qx5d.cn", true, true},  {"xn--fiqs8s", true, true},
      {"a.xn--fiqs8s", true, false},  {"example.org", false, false},
      {"comment", false, false},      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(list.KnownTopLevel(c.Domain), c.Known) << c.Domain;
    EXPECT_EQ(list.IsPublicSuffix(c.Domain), c.Suffix) << c.Domain;
  }
}

TEST(CheckFlags, WordsInAFixedOrderAndWhatCountsAsValid) {
  EXPECT_EQ(FlagsText(0), "ok");
  EXPECT_EQ(FlagsText(kUnchecked | kRole | kNoMail), "no-mail,role,unchecked");
  EXPECT_EQ(ParseFlags("no-mail,role,unchecked"), kUnchecked | kRole | kNoMail);
  EXPECT_EQ(ParseFlags("ok"), 0u);
  struct Case {
    const char* Text;
    bool Valid;
  } cases[] = {
      {"", true},          {"ok", true},           {"unchecked", true},
      {"role", false},     {"no-mail", false},     {"role,unchecked", false},
      {"bad-range", false}, {"disposable", false}, {"too-long,bad-tld", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidChecks(c.Text), c.Valid) << c.Text;
  for (uint32_t flags = 0; flags <= kAllFlags; ++flags) {
    EXPECT_EQ(FlagsWords(flags), FlagsText(flags)) << flags;
  }
}

TEST(ResolverAddress, OnlyAnAddressAndAPort) {
  struct Case {
    const char* Text;
    const char* Parsed;  // null: refused
  } cases[] = {
      {"127.0.0.1:53", "127.0.0.1:53"},
      {"127.0.0.1:053", "127.0.0.1:53"},
      {"[::1]:5353", "[::1]:5353"},
      {"127.0.0.1", nullptr},
      {"127.0.0.1:", nullptr},
      {"127.0.0.1:0", nullptr},
      {"127.0.0.1:65536", nullptr},
      {"127.0.0.1:5x", nullptr},
      {"localhost:53", nullptr},
      {"::1:53", nullptr},
      {"[::1]", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> parsed = ParseResolverAddress(c.Text);
    if (c.Parsed == nullptr) {
      EXPECT_FALSE(parsed.has_value()) << c.Text;
    } else {
      EXPECT_EQ(parsed.value_or("(refused)"), c.Parsed) << c.Text;
    }
  }
  TVerifyOptions options;
  options.Resolver = "localhost:53";
  EXPECT_THROW(TContactVerifier{options}, EVerifyError);
}

}  // namespace
}  // namespace qm::verify
