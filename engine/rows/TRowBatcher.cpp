#include "engine/rows/TRowBatcher.h"

#include <algorithm>
#include <exception>
#include <span>
#include <utility>

#include "engine/firebird/SqlName.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TextUtil.h"

std::vector<TFieldDef> TRowBatcher::TargetFields(TConnection& target, const TTableLayout& layout) {
  TIBQuery select;
  select.SetDatabase(&target.Database());
  select.SQL().SetText("select " + layout.SelectList() + " from " + SqlName(layout.Table()));
  select.Prepare();
  return select.FieldDefs();
}

TRowBatcher::TRowBatcher(TConnection& target, const TTableLayout& layout)
    : layout_(layout),
      fields_(TargetFields(target, layout)),
      blocks_(target.Database(), layout_, fields_) {
  // Values are bound with the target's own types, whichever source gave them.
  for (const TFieldDef& field : fields_) {
    types_.push_back(field.DataType);
  }
  single_.SetDatabase(&target.Database());
  single_.SQL().Assign(layout_.InsertLines());
  single_.Prepare();
}

long long TRowBatcher::Inserted(int source) const {
  const auto index = static_cast<std::size_t>(source);
  return source >= 0 && index < bySource_.size() ? bySource_[index] : 0;
}

void TRowBatcher::Count(int source) {
  ++inserted_;
  if (source >= 0) {
    const auto index = static_cast<std::size_t>(source);
    if (index >= bySource_.size()) {
      bySource_.resize(index + 1, 0);
    }
    ++bySource_[index];
  }
}

bool TRowBatcher::InsertOne(const std::vector<TValue>& values, std::string& error) {
  try {
    layout_.BindRow(single_, types_, values);
    single_.ExecQuery();
    return true;
  } catch (const std::exception& e) {
    error = FirstLine(e.what());
    return false;
  }
}

void TRowBatcher::Add(const std::vector<TValue>& values, int source) {
  Queue(values, source, given_++);
}

void TRowBatcher::TPending::Clear() {
  values.clear();
  sources.clear();
  orders.clear();
}

void TRowBatcher::Queue(std::vector<TValue> values, int source, std::size_t order) {
  queued_.values.push_back(std::move(values));
  queued_.sources.push_back(source);
  queued_.orders.push_back(order);
  const std::size_t target = blocks_.TargetRows(given_);
  const std::size_t queued = queued_.values.size();
  if (queued >= target) {
    if (target > 1 && queued == target && blocks_.ByRequests()) {
      SendQueued();
    } else {
      Flush();
    }
  }
}

void TRowBatcher::SendQueued() {
  // Converted while the block before is still being stored.
  std::string error;
  const bool encoded = blocks_.Encode(queued_.values, error);
  Settle();
  if (encoded && blocks_.Send(error)) {
    std::swap(flying_, queued_);
  } else {
    ++blocksRefused_;
    Place(queued_, 0, queued_.values.size(), false, error);
  }
  queued_.Clear();
}

void TRowBatcher::Settle() {
  if (flying_.values.empty()) {
    return;
  }
  std::string error;
  const bool inBlock = blocks_.Wait(error);
  ++(inBlock ? blocksInserted_ : blocksRefused_);
  Place(flying_, 0, flying_.values.size(), inBlock, error);
  flying_.Clear();
}

void TRowBatcher::Flush() {
  Settle();
  // Full blocks go in whole; rows short of one by the sizes already
  // prepared, the last few one by one.
  std::size_t first = 0;
  while (first < queued_.values.size()) {
    // Asked again each time: a block that could not be prepared makes them
    // smaller.
    const std::size_t target = blocks_.TargetRows(given_);
    const std::size_t left = queued_.values.size() - first;
    const std::size_t rows = left >= target ? target : blocks_.PreparedRows(left);
    InsertRows(first, rows);
    first += rows;
  }
  queued_.Clear();
}

void TRowBatcher::InsertRows(std::size_t first, std::size_t count) {
  std::string error;
  bool inBlock = false;
  if (count > 1) {
    inBlock = blocks_.Insert(std::span(queued_.values).subspan(first, count), error);
    ++(inBlock ? blocksInserted_ : blocksRefused_);
  }
  Place(queued_, first, count, inBlock, error);
}

void TRowBatcher::Place(TPending& rows, std::size_t first, std::size_t count, bool inBlock,
                        std::string error) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (inBlock) {
      Count(rows.sources[i]);
    } else if (InsertOne(rows.values[i], error)) {
      // The block was undone whole (or was one row): each row on its own,
      // so that only the rows the target refuses are held back.
      Count(rows.sources[i]);
    } else {
      refused_.push_back({std::move(rows.values[i]), rows.sources[i], error, rows.orders[i]});
    }
  }
}

void TRowBatcher::Retry() {
  Flush();
  // Each pass goes by blocks too: a block refused falls back to its rows one
  // by one, in order, so a pass puts in every row whose parent is in by its
  // turn. Each pass runs through the rows the other way round: a chain of
  // rows each given before its parent goes in at once, not one per pass.
  while (!refused_.empty()) {
    const long long before = inserted_;
    std::vector<TRefused> again = std::move(refused_);
    refused_.clear();
    for (auto row = again.rbegin(); row != again.rend(); ++row) {
      Queue(std::move(row->values), row->source, row->order);
    }
    Flush();
    if (inserted_ == before) {
      break;  // no row went in: none will
    }
  }
  // Handed back in the order they were given.
  std::sort(refused_.begin(), refused_.end(),
            [](const TRefused& a, const TRefused& b) { return a.order < b.order; });
}
