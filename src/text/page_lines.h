#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/line_split.h"

namespace qm {

// The lines of one page: the page's text, kept whole, cut into lines as they are walked
// (as ForEachLine cuts them). Nothing is kept per line, so a page of a million line breaks
// costs no more than its bytes.
class TPageLines {
 public:
  TPageLines() = default;
  // Lines given one by one, each closed by a line feed (a line holding a break is read as
  // the lines it breaks into).
  TPageLines(std::initializer_list<std::string_view> lines);
  explicit TPageLines(const std::vector<std::string>& lines);

  // Replaces the content with the lines of text[from...], taking the text over.
  void TakeText(std::string&& text, size_t from = 0);
  // The same for a copy of `text`.
  void AssignText(std::string_view text);

  // The number of lines, counted afresh: a walk over the whole text.
  size_t size() const;
  bool empty() const { return begin() == end(); }
  // The whole text; the offsets of the lines are positions in it.
  std::string_view Text() const { return text_; }

  void clear();
  void swap(TPageLines& other) noexcept {
    text_.swap(other.text_);
    std::swap(from_, other.from_);
  }
  // Gives back the memory as well.
  void Release();
  // Hands the text back, leaving the list empty.
  std::string ReleaseText();

  // Copies of the lines.
  std::vector<std::string> Strings() const;

  // Walks the lines in order, finding each line's end as it comes to it.
  class const_iterator {
   public:
    std::string_view operator*() const { return text_.substr(begin_, end_ - begin_); }
    // Where the current line lies in Text().
    size_t Begin() const { return begin_; }
    size_t End() const { return end_; }
    const_iterator& operator++() {
      Advance();
      return *this;
    }
    bool operator==(const const_iterator& other) const {
      return atEnd_ == other.atEnd_ && (atEnd_ || begin_ == other.begin_);
    }

   private:
    friend class TPageLines;
    const_iterator(std::string_view text, size_t from)
        : text_(text), lineStart_(from), block_(from) {
      if (from < text.size()) mask_ = LineBreakMask(text, from);
      Advance();
    }
    explicit const_iterator(std::string_view text) : text_(text), atEnd_(true) {}

    // The step of ForEachLine, kept between calls: the breaks of one 64-byte block are
    // found at once and handed out line by line.
    void Advance() {
      const size_t n = text_.size();
      for (;;) {
        while (mask_ != 0) {
          const size_t pos = block_ + static_cast<size_t>(__builtin_ctzll(mask_));
          mask_ &= mask_ - 1;
          if (pos < lineStart_) continue;
          begin_ = lineStart_;
          end_ = pos;
          lineStart_ = pos + 1;
          if (text_[pos] == '\r' && lineStart_ < n && text_[lineStart_] == '\n') {
            ++lineStart_;
            // The LF's bit, when this block holds it, is the next one.
            if (pos + 1 < block_ + 64) mask_ &= mask_ - 1;
          }
          return;
        }
        if (block_ + 64 >= n) {
          if (lineStart_ < n) {
            begin_ = lineStart_;
            end_ = n;
            lineStart_ = n;
          } else {
            atEnd_ = true;
          }
          return;
        }
        block_ += 64;
        mask_ = LineBreakMask(text_, block_);
      }
    }

    std::string_view text_;
    size_t lineStart_ = 0;  // where the next line starts
    size_t block_ = 0;      // the first position `mask_` covers
    uint64_t mask_ = 0;     // breaks of that block not yet handed out
    size_t begin_ = 0;
    size_t end_ = 0;
    bool atEnd_ = false;
  };
  const_iterator begin() const { return const_iterator(text_, from_); }
  const_iterator end() const { return const_iterator(text_); }

 private:
  std::string text_;
  size_t from_ = 0;  // where the first line starts
};

}  // namespace qm
