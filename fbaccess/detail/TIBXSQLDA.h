#pragma once

// A descriptor area in the client's XSQLDA layout (version 1). Its storage
// only grows; sqln and sqld are the number of entries.

#include <ibase.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "fbaccess/detail/TIBXSQLVAR.h"

namespace fbdetail {

class TIBXSQLDA {
 public:
  // Where one column's null indicator and data lie in a row image.
  struct Slot {
    std::size_t Ind = 0;
    std::size_t Data = 0;
    // The client writes the indicator only for columns that can be null:
    // the indicator of any other column is never read.
    bool Nullable = true;
  };

  TIBXSQLDA();
  TIBXSQLDA(const TIBXSQLDA&) = delete;
  TIBXSQLDA& operator=(const TIBXSQLDA&) = delete;

  // Sets sqln = sqld = count, growing the storage when needed. New entries
  // start zeroed.
  void SetCount(int count);
  int Count() const { return count_; }
  // The area for client calls: nullptr when it has no entries.
  XSQLDA* AsXSQLDA() { return count_ > 0 ? Area() : nullptr; }
  // The area even when empty (for describe, which fills sqld).
  XSQLDA* Area() { return reinterpret_cast<XSQLDA*>(storage_.data()); }
  const XSQLDA* Area() const { return reinterpret_cast<const XSQLDA*>(storage_.data()); }

  TIBXSQLVAR& operator[](int i) { return vars_[i]; }
  const TIBXSQLVAR& operator[](int i) const { return vars_[i]; }

  // Output areas: places every column's data and null indicator in one row
  // image of the area's own and points the entries at it. Returns the size
  // of the image (a multiple of 8).
  std::size_t LayOutRow();
  const char* RowImage() const { return reinterpret_cast<const char*>(row_.data()); }
  // Column i's place in a row image (after LayOutRow).
  const Slot& SlotOf(int i) const { return slots_[std::size_t(i)]; }
  // Points the entries at another image of RowSize() bytes (8-byte aligned)
  // with the same layout, or at the own image for nullptr: the client then
  // writes the next row straight there.
  void PointAt(char* image);
  std::size_t RowSize() const { return rowSize_; }

 private:
  std::vector<std::uint64_t> storage_;
  std::deque<TIBXSQLVAR> vars_;  // stable addresses; entries are only added
  int count_ = 0;
  std::vector<std::uint64_t> row_;
  std::vector<Slot> slots_;  // contiguous copy of the offsets, read per row
  std::size_t rowSize_ = 0;
};

}  // namespace fbdetail
