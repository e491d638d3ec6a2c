#include "pages/TRecordsGone.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "pages/TIndexKey.h"
#include "pages/TIndexReader.h"
#include "pages/TValueDecoder.h"

namespace {

// The primary key's index, else a unique one, else any that can be walked.
const TIndexDescriptor* Choose(const std::vector<TIndexDescriptor>& indexes) {
  const TIndexDescriptor* chosen = nullptr;
  auto rank = [](const TIndexDescriptor& i) { return i.Primary() ? 2 : i.Unique() ? 1 : 0; };
  for (const TIndexDescriptor& index : indexes) {
    if (index.Usable() && (chosen == nullptr || rank(index) > rank(*chosen))) {
      chosen = &index;
    }
  }
  return chosen;
}

std::string ColumnName(const TSchemaTable& table, std::uint16_t fieldId) {
  for (const TSchemaColumn& c : table.columns) {
    if (c.fieldId == fieldId) {
      return c.name;
    }
  }
  return {};
}

}  // namespace

TRecordsGone::TResult TRecordsGone::Find(TTableReader& tables, const std::string& table) {
  const TSchemaTable* found = tables.Schema().Find(table);
  if (found == nullptr) {
    throw std::runtime_error("Tabela desconhecida: " + table);
  }
  return Find(tables, found->relationId);
}

TRecordsGone::TResult TRecordsGone::Find(TTableReader& tables, std::uint16_t relationId) {
  const TSchemaTable* table = tables.Schema().Find(relationId);
  if (table == nullptr) {
    throw std::runtime_error("Tabela desconhecida: relação " + std::to_string(relationId));
  }
  TPageReader& reader = tables.Pages();
  TResult result;
  result.table = table->name;
  result.relationId = relationId;

  TIndexReader indexReader(reader);
  const auto indexes = indexReader.Indexes(relationId);
  const TIndexDescriptor* index = indexes ? Choose(*indexes) : nullptr;
  if (index == nullptr) {
    return result;
  }
  result.primaryKey = index->Primary();
  result.indexId = index->id;
  for (const TIndexDescriptor::TSegment& s : index->segments) {
    result.keyColumns.push_back(ColumnName(*table, s.fieldId));
  }
  // Keys follow the current format; only the primary key's are given.
  const TRecordFormat current =
      table->formats.empty() ? TRecordFormat() : table->formats.rbegin()->second;
  const TIndexKey keys(*index, current);
  result.keysDecoded = result.primaryKey && keys.Decodable() &&
                       std::none_of(result.keyColumns.begin(), result.keyColumns.end(),
                                    [](const std::string& n) { return n.empty(); });

  // Where each record number points: data pages by sequence, and the lines
  // the reader could not decode.
  TReadCounts counts;
  std::map<std::uint32_t, std::uint32_t> pageOf;
  for (const TSequencedPage& p : reader.DataPages(relationId, counts)) {
    pageOf.emplace(p.sequence, p.page);
  }
  std::set<std::pair<std::uint32_t, std::uint16_t>> undecodable;
  reader.ReadRecords(
      relationId,
      [&](const TRecordImage& record) {
        // The rows TTableReader would give: a known format of the right length.
        const auto format = table->formats.find(record.format);
        return format != table->formats.end() && record.data.size() == format->second.Length();
      },
      counts, [&](std::uint32_t page, std::uint16_t line) { undecodable.emplace(page, line); });
  std::map<std::uint32_t, bool> intact;  // data page -> usable

  const std::uint32_t perPage = ods::MaxRecordsPerPage(reader.PageSize());
  TValueDecoder values(reader);
  std::map<std::uint64_t, TGone> gone;
  const TIndexWalk walk =
      indexReader.Walk(relationId, *index, [&](std::uint64_t number, ods::TBytesView key) {
        if (gone.count(number) != 0) {
          return;
        }
        TGone g;
        g.recordNumber = number;
        const std::uint64_t sequence = number / perPage;
        g.sequence = std::uint32_t(std::min<std::uint64_t>(sequence, UINT32_MAX));
        g.line = std::uint16_t(number % perPage);
        const auto listed = pageOf.find(g.sequence);
        if (sequence <= UINT32_MAX && listed != pageOf.end()) {
          g.page = listed->second;
          auto known = intact.find(g.page);
          if (known == intact.end()) {
            const auto page = reader.File().Page(g.page);
            const bool usable = page != nullptr &&
                                reader.ValidDataPage(*page, g.page, relationId) &&
                                ods::U32(*page, ods::kDpgSequence) == g.sequence;
            known = intact.emplace(g.page, usable).first;
          }
          if (known->second) {
            const auto page = reader.File().Page(g.page);
            const bool empty = g.line >= ods::U16(*page, ods::kDpgCount) ||
                               ods::U16(*page, ods::kDpgLines + 4u * g.line) == 0;
            if (empty || undecodable.count({g.page, g.line}) == 0) {
              return;  // read, deleted or never committed: not lost
            }
          }
        }
        if (result.keysDecoded) {
          if (const auto fields = keys.Fields(key)) {
            for (std::size_t i = 0; i < fields->size(); ++i) {
              g.key.push_back((*fields)[i].empty()
                                  ? TValue()
                                  : values.FromBytes(keys.Descriptors()[i], (*fields)[i], counts));
            }
          }
        }
        gone.emplace(number, std::move(g));
      });
  result.indexRead = walk.leafPages > 0;
  result.indexWhole = walk.whole;
  result.indexEntries = walk.entries;
  result.indexPagesDamaged = walk.pagesDamaged;
  for (auto& [number, g] : gone) {
    result.gone.push_back(std::move(g));
  }
  return result;
}
