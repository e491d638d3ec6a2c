#include "fbaccess/detail/TIBXSQLDA.h"

#include <cstring>

namespace fbdetail {

namespace {
std::size_t Align(std::size_t n, std::size_t a) {
  return (n + a - 1) / a * a;
}
}  // namespace

TIBXSQLDA::TIBXSQLDA() : storage_(Align(XSQLDA_LENGTH(1), 8) / 8, 0) {
  Area()->version = SQLDA_VERSION1;
}

void TIBXSQLDA::SetCount(int count) {
  const std::size_t words = Align(XSQLDA_LENGTH(count < 1 ? 1 : count), 8) / 8;
  if (words > storage_.size()) {
    storage_.resize(words, 0);
  }
  while (int(vars_.size()) < count) {
    vars_.emplace_back(*this, int(vars_.size()));
  }
  XSQLDA* area = Area();
  area->version = SQLDA_VERSION1;
  area->sqln = short(count);
  area->sqld = short(count);
  for (int i = count_; i < count; ++i) {
    std::memset(&area->sqlvar[i], 0, sizeof(XSQLVAR));
  }
  count_ = count;
}

std::size_t TIBXSQLDA::LayOutRow() {
  XSQLDA* area = Area();
  std::size_t size = 0;
  slots_.assign(std::size_t(count_), Slot{});
  for (int i = 0; i < count_; ++i) {
    XSQLVAR& v = area->sqlvar[i];
    std::size_t bytes = std::size_t(v.sqllen);
    if ((v.sqltype & ~1) == SQL_VARYING) {
      bytes += 2;
    }
    const std::size_t ind = size;
    const std::size_t data = Align(ind + sizeof(short), 8);
    vars_[i].SetOffsets(data, ind);
    slots_[std::size_t(i)] = Slot{ind, data, (v.sqltype & 1) != 0};
    size = data + Align(bytes, 8);
  }
  rowSize_ = Align(size == 0 ? 8 : size, 8);
  row_.assign(rowSize_ / 8, 0);
  PointAt(nullptr);
  return rowSize_;
}

void TIBXSQLDA::PointAt(char* image) {
  char* base = image != nullptr ? image : reinterpret_cast<char*>(row_.data());
  XSQLVAR* v = Area()->sqlvar;
  for (const Slot& slot : slots_) {
    v->sqldata = base + slot.Data;
    v->sqlind = reinterpret_cast<short*>(base + slot.Ind);
    ++v;
  }
}

}  // namespace fbdetail
