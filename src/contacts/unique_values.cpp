#include "contacts/unique_values.h"

#include <cstring>

namespace qm {
namespace {

constexpr uint64_t kPlaceBits = 40;
constexpr uint64_t kPlaceMask = (uint64_t{1} << kPlaceBits) - 1;
constexpr uint64_t kOffsetBits = 20;

uint64_t Tag(uint64_t hash) {
  return (hash >> 37) & 0xFFFFFF;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93u;
  h ^= h >> 32;
  return h;
}

// `size` (4 or 8) bytes at p.
uint64_t Load(const char* p, size_t size) {
  if (size == 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  }
  uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

}  // namespace

uint64_t TUniqueValues::Hash(std::string_view value) {
  const char* p = value.data();
  size_t n = value.size();
  uint64_t h = 0x9E3779B97F4A7C15u ^ (n * 0x9FB21C651E98DF25u);
  for (; n > 8; p += 8, n -= 8) h = Mix(h ^ Load(p, 8)) * 0x9FB21C651E98DF25u;
  // The last one to eight bytes, read in at most two loads.
  uint64_t tail = 0;
  if (n >= 4) {
    tail = Load(p, 4) | Load(p + n - 4, 4) << 32;
  } else if (n > 0) {
    tail = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
           static_cast<unsigned char>(p[n - 1]) << 16;
  }
  return Mix(Mix(h ^ tail) * 0x9FB21C651E98DF25u);
}

std::string_view TUniqueValues::ValueAt(const Shard& shard, uint64_t slot) {
  const uint64_t place = (slot & kPlaceMask) - 1;
  const char* p = shard.Blocks[place >> kOffsetBits].get() + (place & ((1u << kOffsetBits) - 1));
  size_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*p++);
    length |= static_cast<size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return {p, length};
}

size_t TUniqueValues::Find(const Shard& shard, std::string_view value, uint64_t hash) {
  const size_t mask = shard.Slots.size() - 1;
  const uint64_t tag = Tag(hash) << kPlaceBits;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint64_t slot = shard.Slots[i];
    if (slot == 0) return i;
    if ((slot & ~kPlaceMask) == tag && ValueAt(shard, slot) == value) return i;
  }
}

uint64_t TUniqueValues::Store(Shard& shard, std::string_view value) {
  char length[10];
  size_t lengthBytes = 0;
  for (size_t rest = value.size();; rest >>= 7) {
    length[lengthBytes++] = static_cast<char>((rest & 0x7F) | (rest >= 0x80 ? 0x80 : 0));
    if (rest < 0x80) break;
  }
  const size_t need = lengthBytes + value.size();
  if (shard.BlockUsed + need > kBlockBytes) {
    // A value longer than a block gets one of its own.
    shard.Blocks.push_back(std::make_unique<char[]>(need > kBlockBytes ? need : kBlockBytes));
    shard.BlockUsed = 0;
  }
  char* p = shard.Blocks.back().get() + shard.BlockUsed;
  std::memcpy(p, length, lengthBytes);
  std::memcpy(p + lengthBytes, value.data(), value.size());
  const uint64_t place = (uint64_t{shard.Blocks.size() - 1} << kOffsetBits | shard.BlockUsed) + 1;
  // A value with a block of its own fills it, so the next one starts another.
  shard.BlockUsed = need > kBlockBytes ? kBlockBytes : shard.BlockUsed + need;
  return place;
}

void TUniqueValues::Grow(Shard& shard) {
  std::vector<uint64_t> old = std::move(shard.Slots);
  shard.Slots.assign(old.empty() ? 64 : 2 * old.size(), 0);
  const size_t mask = shard.Slots.size() - 1;
  for (uint64_t slot : old) {
    if (slot == 0) continue;
    size_t i = Hash(ValueAt(shard, slot)) & mask;
    while (shard.Slots[i] != 0) i = (i + 1) & mask;
    shard.Slots[i] = slot;
  }
}

bool TUniqueValues::Insert(std::string_view value) {
  const uint64_t hash = Hash(value);
  Shard& shard = ShardOf(hash);
  std::lock_guard lock(shard.Mutex);
  // At most three quarters full, so a probe ends soon.
  if (4 * (shard.Count + 1) > 3 * shard.Slots.size()) Grow(shard);
  const size_t i = Find(shard, value, hash);
  if (shard.Slots[i] != 0) return false;
  shard.Slots[i] = Tag(hash) << kPlaceBits | Store(shard, value);
  ++shard.Count;
  return true;
}

bool TUniqueValues::Contains(std::string_view value) const {
  const uint64_t hash = Hash(value);
  const Shard& shard = ShardOf(hash);
  std::lock_guard lock(shard.Mutex);
  return !shard.Slots.empty() && shard.Slots[Find(shard, value, hash)] != 0;
}

void TUniqueValues::Clear() {
  for (Shard& shard : shards_) {
    std::lock_guard lock(shard.Mutex);
    std::vector<uint64_t>().swap(shard.Slots);
    std::vector<std::unique_ptr<char[]>>().swap(shard.Blocks);
    shard.BlockUsed = kBlockBytes;
    shard.Count = 0;
  }
}

size_t TUniqueValues::Size() const {
  size_t size = 0;
  for (const Shard& shard : shards_) {
    std::lock_guard lock(shard.Mutex);
    size += shard.Count;
  }
  return size;
}

}  // namespace qm
