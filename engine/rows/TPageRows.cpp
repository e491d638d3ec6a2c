#include "engine/rows/TPageRows.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "engine/files/DerivedNames.h"
#include "pages/Ods.h"
#include "pages/TReadCounts.h"
#include "pages/TTableReader.h"

namespace {

// True when the file ends before pages the inventory says are in use: a cut
// file, whose missing pages no scan can see.
bool Cut(const TPageFile& file) {
  const std::uint32_t pageSize = file.PageSize();
  const std::uint32_t count = file.PageCount();
  if (count == 0 || file.FileSize() % pageSize != 0) {
    return true;
  }
  const std::uint32_t perPip = (pageSize - std::uint32_t(ods::kPipBits)) * 8;
  const std::uint32_t sequence = (count - 1) / perPip;
  const std::uint32_t pipPage = sequence == 0 ? 1 : sequence * perPip - 1;
  TPage pip;
  if (!file.ReadPage(pipPage, pip) || pip[0] != ods::kPageInventory ||
      ods::U32(pip, ods::kPageNumberOffset) != pipPage) {
    return true;  // nothing tells
  }
  for (std::uint64_t number = count; number < std::uint64_t(sequence + 1) * perPip; ++number) {
    const std::uint32_t bit = std::uint32_t(number % perPip);
    if ((pip[ods::kPipBits + bit / 8] & (1u << (bit % 8))) == 0) {
      return true;  // in use, yet past the end
    }
  }
  return false;
}

}  // namespace

TPageRows::TPageRows(std::string path, std::optional<TSchema> otherSchema)
    : path_(std::move(path)), otherSchema_(std::move(otherSchema)) {}

TPageRows::~TPageRows() = default;

bool TPageRows::Open(std::string& problem) {
  if (!tried_) {
    tried_ = true;
    try {
      reader_ = std::make_unique<TTableReader>(path_, otherSchema_);
    } catch (const std::exception& e) {
      openError_ = e.what();
    }
  }
  problem = openError_;
  return reader_ != nullptr;
}

bool TPageRows::Whole(std::uint16_t relationId, const TReadCounts& counts) {
  if (counts.recordsUndecodable != 0 || !counts.tipUsed ||
      counts.pagesDamaged != counts.damagedPages.size()) {
    return false;
  }
  TPageReader& pages = reader_->Pages();
  const auto& pointerPages = pages.PointerPages();
  std::set<std::uint32_t> ownPointers;
  std::set<std::uint32_t> anyPointers;
  for (const auto& [relation, listed] : pointerPages) {
    for (const TSequencedPage& page : listed) {
      anyPointers.insert(page.page);
      if (relation == relationId) {
        ownPointers.insert(page.page);
      }
    }
  }
  // A damaged data page loses its rows for good.
  for (const std::uint32_t page : counts.damagedPages) {
    if (ownPointers.count(page) == 0) {
      return false;
    }
  }
  if (!counts.pagesScanned) {
    return true;
  }
  // The data pages came from the scan: whole only when every page the scan
  // found damaged is known to be a pointer page, so that none of them can
  // have been a data page of this table.
  if (!pages.PagesRelationIntact() || Cut(pages.File())) {
    return false;
  }
  const TPageScan& scan = pages.Scan();
  if (scan.damagedCount != scan.damaged.size()) {
    return false;
  }
  return std::all_of(scan.damaged.begin(), scan.damaged.end(), [&](const TDamagedPage& damaged) {
    return anyPointers.count(damaged.page) != 0;
  });
}

TPageRows::TRead TPageRows::Read(const TTableLayout& layout, const TRowCallback& onRow) {
  TRead read;
  if (!Open(read.problem)) {
    return read;
  }
  const TSchemaTable* table = reader_->Schema().Find(layout.Table());
  if (table == nullptr) {
    read.problem = "a tabela não consta das tabelas de sistema lidas das páginas";
    return read;
  }
  // Where each copied column of the layout lies in the rows the pages give.
  std::vector<std::string> copied = layout.Columns();
  copied.insert(copied.end(), layout.ArrayColumns().begin(), layout.ArrayColumns().end());
  std::vector<std::size_t> from;
  for (const std::string& column : copied) {
    std::size_t at = 0;
    while (at < table->columns.size() && table->columns[at].name != column) {
      ++at;
    }
    from.push_back(at);  // past the end: not in the pages, NULL
  }
  std::vector<TValue> values(copied.size());
  const TReadCounts counts = reader_->Read(table->relationId, [&](const TRow& row) {
    for (std::size_t i = 0; i < from.size(); ++i) {
      values[i] = from[i] < row.values.size() ? row.values[from[i]] : TValue();
    }
    ++read.rows;
    onRow(values);
  });
  read.whole = Whole(table->relationId, counts);
  read.pagesDamaged = counts.pagesDamaged;
  read.recordsUnreadable = counts.recordsUndecodable;
  read.blobsUnreadable = counts.blobsUnreadable;
  read.versionsFromInventory = counts.tipUsed;
  return read;
}

std::string TPageRows::PristineCopyOf(const std::string& databasePath) {
  std::string newest = databasePath;
  std::filesystem::file_time_type newestTime;
  bool found = false;
  for (int number = 1; number <= kMaxVariant; ++number) {
    const std::string copy = CopyPathFor(databasePath, number);
    std::error_code error;
    if (!std::filesystem::is_regular_file(copy, error)) {
      continue;
    }
    const auto written = std::filesystem::last_write_time(copy, error);
    if (!error && (!found || written > newestTime)) {
      newest = copy;
      newestTime = written;
      found = true;
    }
  }
  return newest;
}
