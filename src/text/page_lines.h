#pragma once
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The lines of one page: the page's text, kept whole, and where each line lies in it.
// Cutting a page into lines copies nothing, and a list filled page after page reuses its
// buffers.
class TPageLines {
 public:
  TPageLines() = default;
  // Lines given one by one (a line may hold any byte, breaks included).
  TPageLines(std::initializer_list<std::string_view> lines);
  explicit TPageLines(const std::vector<std::string>& lines);

  // Replaces the content with the lines of text[from...] (cut as ForEachLine cuts them),
  // taking the text over.
  void TakeText(std::string&& text, size_t from = 0);
  // The same for a copy of `text`.
  void AssignText(std::string_view text);

  size_t size() const { return spans_.size(); }
  bool empty() const { return spans_.empty(); }
  std::string_view operator[](size_t i) const {
    return std::string_view(text_).substr(spans_[i].Begin, spans_[i].Length);
  }
  // The whole text, and where line i lies in it.
  std::string_view Text() const { return text_; }
  size_t Begin(size_t i) const { return spans_[i].Begin; }
  size_t End(size_t i) const { return spans_[i].Begin + spans_[i].Length; }

  void clear();
  void swap(TPageLines& other) noexcept {
    text_.swap(other.text_);
    spans_.swap(other.spans_);
  }
  // Gives back the memory as well.
  void Release();
  // Hands the text back, leaving the list empty.
  std::string ReleaseText();

  // Copies of the lines.
  std::vector<std::string> Strings() const;

  class const_iterator {
   public:
    const_iterator(const TPageLines& lines, size_t i) : lines_(&lines), i_(i) {}
    std::string_view operator*() const { return (*lines_)[i_]; }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return i_ == other.i_; }

   private:
    const TPageLines* lines_;
    size_t i_;
  };
  const_iterator begin() const { return {*this, 0}; }
  const_iterator end() const { return {*this, spans_.size()}; }

 private:
  struct Span {
    size_t Begin;
    size_t Length;
  };
  void Split(size_t from);
  // Adds a line given whole.
  void Append(std::string_view line);

  std::string text_;
  std::vector<Span> spans_;
};

}  // namespace qm
