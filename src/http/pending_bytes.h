#pragma once
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace qm {

// Bytes received and not yet taken, read from the front: taking a header line moves a
// start mark instead of the rest of the answer. The socket receives straight into it, so a
// fiber waiting for an answer keeps no receive buffer on its stack.
class TPendingBytes {
 public:
  bool empty() const { return start_ == size_; }
  size_t size() const { return size_ - start_; }
  const char* data() const { return bytes_.get() + start_; }
  char front() const { return bytes_[start_]; }
  std::string_view View() const { return {data(), size()}; }
  size_t find(char c) const { return View().find(c); }

  void assign(const char* bytes, size_t count) {
    char* area = ReceiveArea(count);
    // Before any receive there is no area at all, and memcpy must not get a null one.
    if (count > 0) std::memcpy(area, bytes, count);
    Received(count);
  }
  // Room for `most` bytes to be received into, dropping what is pending; Received then
  // says how many came. The room is kept for the next answer until Release.
  char* ReceiveArea(size_t most) {
    clear();
    if (capacity_ < most) {
      bytes_ = std::make_unique_for_overwrite<char[]>(most);
      capacity_ = most;
    }
    return bytes_.get();
  }
  void Received(size_t count) {
    start_ = 0;
    size_ = count;
  }
  void clear() { start_ = size_ = 0; }
  // Drops the first `count` bytes (at most size()).
  void Consume(size_t count) {
    start_ += count;
    if (start_ >= size_) clear();
  }
  // Empty, and its buffer given back.
  void Release() {
    bytes_.reset();
    capacity_ = 0;
    clear();
  }

  friend bool operator==(const TPendingBytes& pending, std::string_view bytes) {
    return pending.View() == bytes;
  }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t capacity_ = 0;
  size_t size_ = 0;
  size_t start_ = 0;
};

}  // namespace qm
