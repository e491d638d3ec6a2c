#include "pages/TTableReader.h"

#include <stdexcept>

#include "pages/TValueDecoder.h"

namespace {

void Merge(TSchema& own, bool ownIntact, const TSchema& other) {
  for (const auto& [id, theirs] : other.tables) {
    const auto mine = own.tables.find(id);
    if (mine == own.tables.end()) {
      own.tables[id] = theirs;
      continue;
    }
    TSchemaTable& table = mine->second;
    if (!ownIntact || table.columns.empty()) {
      table.columns = theirs.columns;
      table.primaryKey = theirs.primaryKey;
    }
    if (table.name.empty()) {
      table.name = theirs.name;
    }
    for (const auto& [number, format] : theirs.formats) {
      table.formats.emplace(number, format);  // the file's own formats win
    }
  }
}

}  // namespace

TTableReader::TTableReader(const std::string& path, std::optional<TSchema> otherSchema)
    : reader_(path), own_(TSchemaReader::Read(reader_)), schema_(own_.schema) {
  if (otherSchema) {
    Merge(schema_, own_.intact, *otherSchema);
  }
}

TReadCounts TTableReader::Read(const std::string& table, const TRowCallback& onRow) {
  const TSchemaTable* found = schema_.Find(table);
  if (found == nullptr) {
    throw std::runtime_error("Tabela desconhecida: " + table);
  }
  return Read(found->relationId, onRow);
}

TReadCounts TTableReader::Read(std::uint16_t relationId, const TRowCallback& onRow) {
  const TSchemaTable* table = schema_.Find(relationId);
  if (table == nullptr) {
    throw std::runtime_error("Tabela desconhecida: relação " + std::to_string(relationId));
  }
  std::vector<std::string> names;
  for (const TSchemaColumn& c : table->columns) {
    names.push_back(c.name);
  }
  // Per format: for each column missing from it, the default a later format
  // keeps for it (rows written before the column existed read that).
  std::map<std::uint16_t, std::vector<const TFieldDefault*>> fallbacks;
  for (const auto& [number, format] : table->formats) {
    std::vector<const TFieldDefault*>& list = fallbacks[number];
    for (const TSchemaColumn& c : table->columns) {
      const TFieldDefault* value = nullptr;
      if (!format.Stored(c.fieldId)) {
        for (auto later = table->formats.upper_bound(number);
             later != table->formats.end() && value == nullptr; ++later) {
          const auto d = later->second.Defaults().find(c.fieldId);
          if (d != later->second.Defaults().end()) {
            value = &d->second;
          }
        }
      }
      list.push_back(value);
    }
  }

  TValueDecoder decoder(reader_);
  TReadCounts counts;
  std::vector<TValue> values(names.size());
  reader_.ReadRecords(
      relationId,
      [&](const TRecordImage& record) {
        const auto format = table->formats.find(record.format);
        if (format == table->formats.end() || record.data.size() != format->second.Length()) {
          return false;
        }
        const std::vector<const TFieldDefault*>& defaults = fallbacks[record.format];
        for (std::size_t i = 0; i < names.size(); ++i) {
          const TSchemaColumn& c = table->columns[i];
          values[i] = c.computed ? TValue()
                                 : decoder.Decode(format->second, record.data, c.fieldId,
                                                  defaults[i], counts);
        }
        onRow(TRow{names, values, record.page, record.line});
        return true;
      },
      counts);
  return counts;
}
