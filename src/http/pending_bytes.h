#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// Bytes received and not yet taken, read from the front: taking a header line moves a
// start mark instead of the rest of the answer.
class TPendingBytes {
 public:
  bool empty() const { return start_ == bytes_.size(); }
  size_t size() const { return bytes_.size() - start_; }
  const char* data() const { return bytes_.data() + start_; }
  char front() const { return bytes_[start_]; }
  std::string_view View() const { return std::string_view(bytes_).substr(start_); }
  size_t find(char c) const { return View().find(c); }

  void assign(const char* bytes, size_t count) {
    bytes_.assign(bytes, count);
    start_ = 0;
  }
  void clear() {
    bytes_.clear();
    start_ = 0;
  }
  // Drops the first `count` bytes (at most size()).
  void Consume(size_t count) {
    start_ += count;
    if (start_ >= bytes_.size()) clear();
  }
  // Empty, and its buffer given back.
  void Release() {
    std::string().swap(bytes_);
    start_ = 0;
  }

  friend bool operator==(const TPendingBytes& pending, std::string_view bytes) {
    return pending.View() == bytes;
  }

 private:
  std::string bytes_;
  size_t start_ = 0;
};

}  // namespace qm
