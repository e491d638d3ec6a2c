#include "engine/rows/TKeySet.h"

#include <functional>
#include <limits>
#include <stdexcept>

namespace {

constexpr std::size_t kFirstSlots = 1024;

// Writes `value` in 7-bit groups, low group first; the high bit marks "more".
void PutLength(std::vector<char>& out, std::size_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

}  // namespace

std::size_t TKeySet::Hash(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

std::string_view TKeySet::KeyAt(std::uint32_t offset) const {
  std::size_t p = offset;
  std::size_t length = 0;
  int shift = 0;
  for (;;) {
    const auto byte = static_cast<unsigned char>(arena_[p++]);
    length |= std::size_t(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      break;
    }
    shift += 7;
  }
  return std::string_view(arena_.data() + p, length);
}

std::size_t TKeySet::FindSlot(std::string_view key, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash & mask;
  while (slots_[slot] != 0 && KeyAt(slots_[slot] - 1) != key) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

bool TKeySet::Contains(std::string_view key) const {
  if (size_ == 0) {
    return false;
  }
  return slots_[FindSlot(key, Hash(key))] != 0;
}

bool TKeySet::Insert(std::string_view key) {
  if (slots_.empty() || (size_ + 1) * 2 > slots_.size()) {
    Grow();
  }
  const std::size_t slot = FindSlot(key, Hash(key));
  if (slots_[slot] != 0) {
    return false;
  }
  const std::size_t offset = arena_.size();
  // Offsets are kept in 32 bits, one less for the empty mark.
  if (offset + key.size() + 10 >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("TKeySet: more key bytes than the set can hold");
  }
  PutLength(arena_, key.size());
  arena_.insert(arena_.end(), key.begin(), key.end());
  slots_[slot] = static_cast<std::uint32_t>(offset + 1);
  ++size_;
  return true;
}

void TKeySet::Grow() {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? kFirstSlots : old.size() * 2, 0);
  for (const std::uint32_t entry : old) {
    if (entry != 0) {
      slots_[FindSlot(KeyAt(entry - 1), Hash(KeyAt(entry - 1)))] = entry;
    }
  }
}

std::size_t TKeySet::MemoryBytes() const {
  return arena_.capacity() + slots_.capacity() * sizeof(std::uint32_t);
}

void TKeySet::Clear() {
  arena_ = {};
  slots_ = {};
  size_ = 0;
}
