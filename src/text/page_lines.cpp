#include "text/page_lines.h"

#include <algorithm>
#include <utility>

namespace qm {

TPageLines::TPageLines(std::initializer_list<std::string_view> lines) {
  for (std::string_view line : lines) {
    text_.append(line);
    text_.push_back('\n');
  }
}

TPageLines::TPageLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    text_.append(line);
    text_.push_back('\n');
  }
}

void TPageLines::TakeText(std::string&& text, size_t from) {
  text_ = std::move(text);
  from_ = std::min(from, text_.size());
}

void TPageLines::AssignText(std::string_view text) {
  text_.assign(text);
  from_ = 0;
}

size_t TPageLines::size() const {
  size_t count = 0;
  for (const_iterator line = begin(), last = end(); line != last; ++line) ++count;
  return count;
}

void TPageLines::clear() {
  text_.clear();
  from_ = 0;
}

void TPageLines::Release() {
  std::string().swap(text_);
  from_ = 0;
}

std::string TPageLines::ReleaseText() {
  from_ = 0;
  return std::exchange(text_, {});
}

std::vector<std::string> TPageLines::Strings() const {
  std::vector<std::string> lines;
  for (std::string_view line : *this) lines.emplace_back(line);
  return lines;
}

}  // namespace qm
