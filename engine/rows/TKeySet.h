#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A set of keys held compactly: the bytes of every key live in one arena,
// each preceded by its length, and an open-addressing table of arena offsets
// finds them. Comparison is exact, byte for byte. About ten bytes per key
// beyond the key's own bytes, so a hundred thousand parent keys fit in a few
// megabytes.
class TKeySet {
 public:
  TKeySet() = default;

  // Adds the key; false when an equal key is already held.
  bool Insert(std::string_view key);
  bool Contains(std::string_view key) const;
  std::size_t Size() const { return size_; }
  // Bytes reserved by the arena and the table.
  std::size_t MemoryBytes() const;
  void Clear();

 private:
  static std::size_t Hash(std::string_view key);
  // The key stored at an arena offset.
  std::string_view KeyAt(std::uint32_t offset) const;
  // The slot that holds `key`, or the empty slot where it belongs.
  std::size_t FindSlot(std::string_view key, std::size_t hash) const;
  void Grow();

  std::vector<char> arena_;
  // Arena offset + 1 of each key; 0 marks an empty slot. The size is a power
  // of two and at most half of the slots are used.
  std::vector<std::uint32_t> slots_;
  std::size_t size_ = 0;
};
