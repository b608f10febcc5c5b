#include "text/page_lines.h"

#include <utility>

#include "text/line_split.h"

namespace qm {

TPageLines::TPageLines(std::initializer_list<std::string_view> lines) {
  for (std::string_view line : lines) Append(line);
}

TPageLines::TPageLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Append(line);
}

void TPageLines::Append(std::string_view line) {
  spans_.push_back({text_.size(), line.size()});
  text_.append(line);
}

void TPageLines::TakeText(std::string&& text, size_t from) {
  text_ = std::move(text);
  Split(std::min(from, text_.size()));
}

void TPageLines::AssignText(std::string_view text) {
  text_.assign(text);
  Split(0);
}

void TPageLines::Split(size_t from) {
  spans_.clear();
  const std::string_view body = std::string_view(text_).substr(from);
  ForEachLine(body, [&](size_t begin, size_t end) {
    spans_.push_back({from + begin, end - begin});
  });
}

void TPageLines::clear() {
  text_.clear();
  spans_.clear();
}

void TPageLines::Release() {
  std::string().swap(text_);
  std::vector<Span>().swap(spans_);
}

std::string TPageLines::ReleaseText() {
  spans_.clear();
  return std::exchange(text_, {});
}

std::vector<std::string> TPageLines::Strings() const {
  std::vector<std::string> lines;
  lines.reserve(size());
  for (std::string_view line : *this) lines.emplace_back(line);
  return lines;
}

}  // namespace qm
