// Pages that declare no charset: contacts found by the per-line reading the scanners do
// (each line as UTF-8 when valid, else as code page 936) against a charset detector
// (uchardet) whose guess converts the page to UTF-8 first, and against the rule the page
// fetch applies (the per-line reading, but GB18030 for a page with its four-byte characters). A
// corpus of pages in GBK, GB18030 (with characters beyond GBK), Big5, UTF-8, Shift_JIS and EUC-KR,
// long and short, each with contacts right after native text. Prints found / planted, wrong rows
// and the detector's time per page.
#include <uchardet/uchardet.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "contacts/extractors.h"
#include "contacts/result_list.h"
#include "support/charset_encoding.h"
#include "text/charset_conversion.h"
#include "text/cp936.h"
#include "text/page_charset.h"
#include "text/page_lines.h"
#include "ui/control_models.h"

namespace {

constexpr int kPagesPerKind = 150;

struct Kind {
  const char* Name;
  const char* Charset;
  std::vector<const char*> Words;
};

const Kind kKinds[] = {
    {"GBK", "GBK", {"联系我们", "电子邮箱", "客服热线", "公司地址", "欢迎光临", "技术支持"}},
    {"GB18030", "GB18030", {"联系𠀀", "邮箱𠀁", "电话𠀂", "地址", "欢迎", "支持"}},
    {"Big5", "BIG5", {"聯繫我們", "電子郵件", "客服專線", "公司地址", "歡迎光臨", "技術支援"}},
    {"UTF-8", "UTF-8", {"联系我们", "电子邮箱", "客服热线", "公司地址", "欢迎光临", "技术支持"}},
    {"Shift_JIS", "SHIFT_JIS", {"お問い合わせ", "ﾒｰﾙ", "ﾃﾞﾝﾜ", "会社概要", "ようこそ", "サポート"}},
    {"EUC-KR", "EUC-KR", {"연락처", "이메일", "전화", "회사소개", "환영합니다", "지원"}},
};

struct Page {
  std::string Bytes;
  std::set<std::string> Planted;
};

Page MakePage(const Kind& kind, int index, bool shortPage, std::mt19937& random) {
  Page page;
  std::string text = "<html><body>\n";
  const int lines = shortPage ? 1 : 60;
  const int contactLine = shortPage ? 0 : static_cast<int>(random() % 60);
  for (int line = 0; line < lines; ++line) {
    text += "<p>";
    for (int w = 0; w < 3; ++w) text += kind.Words[random() % kind.Words.size()];
    if (line == contactLine) {
      const std::string email =
          "p" + std::to_string(index) + "x@corp" + std::to_string(index) + ".com";
      const std::string mobile = std::to_string(13800000000LL + index);
      text += kind.Words[1] + email + kind.Words[2] + mobile;
      page.Planted = {email, mobile};
    }
    text += "</p>\n";
  }
  page.Bytes = qm::test::EncodeUtf8As(text + "</body></html>\n", kind.Charset);
  return page;
}

struct Tally {
  int Found = 0;
  int Wrong = 0;
};

void Scan(std::string_view text, const std::set<std::string>& planted, Tally& tally) {
  qm::ui::ChangeNotifier notifier;
  qm::TResultList emails(notifier), mobiles(notifier);
  qm::TPageLines lines;
  lines.AssignText(text);
  for (std::string_view line : lines) qm::ExtractContacts(line, {&emails, &mobiles, nullptr});
  for (const qm::TResultList* list : {&emails, &mobiles}) {
    if (list->EntryCount() == 0) continue;
    for (const std::string& row : list->Snapshot()) {
      if (planted.count(row)) {
        ++tally.Found;
      } else {
        ++tally.Wrong;
      }
    }
  }
}

}  // namespace

int main() {
  std::mt19937 random(20261208);
  std::printf("bench_charset_guess: undeclared pages, %d per kind and length, 2 contacts each\n",
              kPagesPerKind);
  std::printf(
      "%-10s %-6s | per-line reading   | page fetch's rule  | detector: found wrong  right "
      "guesses  us/page\n",
      "kind", "length");
  Tally lineTotal, guessTotal, builtTotal;
  int pagesTotal = 0;
  for (const Kind& kind : kKinds) {
    for (const bool shortPage : {false, true}) {
      Tally perLine, guessed, built;
      int rightGuesses = 0;
      double detectSeconds = 0;
      for (int i = 0; i < kPagesPerKind; ++i) {
        const Page page = MakePage(kind, i, shortPage, random);
        Scan(page.Bytes, page.Planted, perLine);
        if (!qm::IsValidUtf8(page.Bytes) && qm::HasGb18030FourByteCharacter(page.Bytes)) {
          std::string asGb18030;
          qm::ConvertToUtf8(page.Bytes, "GB18030", 64u << 20, asGb18030);
          Scan(asGb18030, page.Planted, built);
        } else {
          Scan(page.Bytes, page.Planted, built);
        }

        const auto start = std::chrono::steady_clock::now();
        uchardet_t detector = uchardet_new();
        uchardet_handle_data(detector, page.Bytes.data(), page.Bytes.size());
        uchardet_data_end(detector);
        const std::string guess = uchardet_get_charset(detector);
        uchardet_delete(detector);
        std::string converted;
        const std::string charset = qm::CharsetForLabel(guess);
        const bool ok =
            !charset.empty() && qm::ConvertToUtf8(page.Bytes, charset, 64u << 20, converted);
        detectSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rightGuesses += qm::CharsetForLabel(guess) == qm::CharsetForLabel(kind.Charset) ||
                        (std::string(kind.Charset) == "GBK" && charset == "GB18030");
        Scan(ok ? std::string_view(converted) : std::string_view(page.Bytes), page.Planted,
             guessed);
      }
      std::printf(
          "%-10s %-6s | %4d/%d wrong %3d | %4d/%d wrong %3d | %4d/%d wrong %3d  %3d/%d  %8.1f\n",
          kind.Name, shortPage ? "short" : "long", perLine.Found, 2 * kPagesPerKind, perLine.Wrong,
          built.Found, 2 * kPagesPerKind, built.Wrong, guessed.Found, 2 * kPagesPerKind,
          guessed.Wrong, rightGuesses, kPagesPerKind, detectSeconds * 1e6 / kPagesPerKind);
      builtTotal.Found += built.Found;
      builtTotal.Wrong += built.Wrong;
      lineTotal.Found += perLine.Found;
      lineTotal.Wrong += perLine.Wrong;
      guessTotal.Found += guessed.Found;
      guessTotal.Wrong += guessed.Wrong;
      pagesTotal += kPagesPerKind;
    }
  }
  std::printf(
      "all: per-line reading %d/%d found, %d wrong; page fetch's rule %d/%d found, %d wrong; "
      "detector %d/%d found, %d wrong\n",
      lineTotal.Found, 2 * pagesTotal, lineTotal.Wrong, builtTotal.Found, 2 * pagesTotal,
      builtTotal.Wrong, guessTotal.Found, 2 * pagesTotal, guessTotal.Wrong);
  return 0;
}
