#pragma once

#include <cstdint>
#include <initializer_list>

// A set of values of one option enumeration, stored as a bit mask: bit k stands
// for the value at position k of the enumeration.
template <typename E>
class TOptionSet {
 public:
  TOptionSet() = default;
  TOptionSet(std::initializer_list<E> values) {
    for (E value : values) {
      Include(value);
    }
  }

  bool Contains(E value) const { return (bits_ & Bit(value)) != 0; }
  void Include(E value) { bits_ |= Bit(value); }
  void Exclude(E value) { bits_ &= ~Bit(value); }
  bool Empty() const { return bits_ == 0; }
  std::uint32_t Bits() const { return bits_; }

  bool operator==(const TOptionSet&) const = default;

 private:
  static std::uint32_t Bit(E value) { return std::uint32_t{1} << static_cast<unsigned>(value); }

  std::uint32_t bits_ = 0;
};
