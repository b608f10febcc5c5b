// Any bytes as a page's text, cut into lines by every line splitter, against a plain
// byte-by-byte cut: a line ends at CR LF, LF or a lone CR; text after the last break is a
// last line when it is not empty. The first byte, when there is one, also gives the offset
// from which a page's lines are taken.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "text/line_split.h"
#include "text/page_lines.h"

namespace {

struct TLineSpan {
  size_t Begin, End;
  bool operator==(const TLineSpan&) const = default;
};

std::vector<TLineSpan> PlainCut(std::string_view text) {
  std::vector<TLineSpan> lines;
  size_t begin = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back({begin, i});
      i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
      begin = i;
    } else {
      ++i;
    }
  }
  if (begin < text.size()) lines.push_back({begin, text.size()});
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using qm::fuzz::Check;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<TLineSpan> expected = PlainCut(text);

  std::vector<TLineSpan> visited;
  qm::ForEachLine(text, [&](size_t begin, size_t end) { visited.push_back({begin, end}); });
  Check(visited == expected, "ForEachLine cuts differently");

  std::vector<std::string> strings = {"old", "lines", "to", "reuse"};
  qm::SplitLines(text, strings);
  Check(strings.size() == expected.size(), "SplitLines gives another count");
  for (size_t i = 0; i < strings.size(); ++i) {
    Check(strings[i] == text.substr(expected[i].Begin, expected[i].End - expected[i].Begin),
          "SplitLines gives another line");
  }

  const size_t from = size == 0 ? 0 : data[0] % (size + 1);
  const std::vector<TLineSpan> fromExpected = PlainCut(text.substr(from));
  qm::TPageLines page;
  page.TakeText(std::string(text), from);
  Check(page.Text() == text, "the page's text is not the text taken");
  std::vector<TLineSpan> walked;
  for (auto line = page.begin(); line != page.end(); ++line) {
    Check(*line == page.Text().substr(line.Begin(), line.End() - line.Begin()),
          "a page line is not where it says");
    walked.push_back({line.Begin() - from, line.End() - from});
  }
  Check(walked == fromExpected, "a page's lines differ");
  Check(page.size() == fromExpected.size(), "a page counts its lines wrongly");
  return 0;
}
