#pragma once
// The values a result list has accepted in a run, kept to drop their repeats: tens of
// thousands of short strings, asked about for every candidate of every page. Open
// addressing on a hash of the value, the values themselves packed one after another in
// blocks, so a value costs its bytes and a few more, not a node and a string of its own.
// Shards with locks of their own let workers ask about different values at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace qm {

class TUniqueValues {
 public:
  // True when `value` was not there and now is.
  bool Insert(std::string_view value);
  bool Contains(std::string_view value) const;
  // Forgets every value and gives their memory back.
  void Clear();
  size_t Size() const;

 private:
  static constexpr size_t kShards = 8;
  static constexpr size_t kBlockBytes = 16 * 1024;

  struct Shard {
    mutable std::mutex Mutex;
    // 0 when empty, else the value's place (block << 20 | offset, plus 1) in the low 40 bits
    // and 24 more bits of its hash above them.
    std::vector<uint64_t> Slots;
    std::vector<std::unique_ptr<char[]>> Blocks;  // each value: its length (LEB128), its bytes
    size_t BlockUsed = kBlockBytes;               // of the last block
    size_t Count = 0;
  };

  static uint64_t Hash(std::string_view value);
  // The slot holding `value`, or the empty slot where it would go.
  static size_t Find(const Shard& shard, std::string_view value, uint64_t hash);
  static std::string_view ValueAt(const Shard& shard, uint64_t slot);
  static uint64_t Store(Shard& shard, std::string_view value);
  static void Grow(Shard& shard);

  Shard& ShardOf(uint64_t hash) { return shards_[hash >> 61]; }
  const Shard& ShardOf(uint64_t hash) const { return shards_[hash >> 61]; }

  std::array<Shard, kShards> shards_;
};

}  // namespace qm
