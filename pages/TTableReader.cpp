#include "pages/TTableReader.h"

#include <algorithm>
#include <stdexcept>

#include "pages/TValueDecoder.h"

namespace {

// The fields a format stores, in field id order.
std::vector<std::uint16_t> StoredFields(const TRecordFormat& format) {
  std::vector<std::uint16_t> ids;
  for (std::uint16_t id = 0; id < format.Fields().size(); ++id) {
    if (format.Stored(id)) {
      ids.push_back(id);
    }
  }
  return ids;
}

// Every field the table's newest format stores has a column.
bool ColumnsComplete(const TSchemaTable& table) {
  if (table.columns.empty()) {
    return false;
  }
  if (table.formats.empty()) {
    return true;  // nothing tells otherwise
  }
  for (const std::uint16_t id : StoredFields(table.formats.rbegin()->second)) {
    const bool named = std::any_of(table.columns.begin(), table.columns.end(),
                                   [id](const TSchemaColumn& c) { return c.fieldId == id; });
    if (!named) {
      return false;
    }
  }
  return true;
}

bool SameType(const TFieldDescriptor& a, const TFieldDescriptor& b) {
  return a.dtype == b.dtype && a.length == b.length && a.scale == b.scale && a.subType == b.subType;
}

// Their columns on the file's field ids, or nothing. Another copy of the
// database (an older backup restored) numbers its fields anew, in an order
// of its own, but keeps their positions; a table's fields were created in
// the order of their positions unless someone moved one, so the n-th stored
// column by position is taken for the n-th field the file's newest format
// stores, then, failing that, the n-th by their own numbering. Every pair
// must have the same type. Fields the file has beyond theirs (added since)
// stay unnamed.
std::optional<std::vector<TSchemaColumn>> Borrowed(const TSchemaTable& mine,
                                                   const TSchemaTable& theirs) {
  if (mine.formats.empty() || theirs.formats.empty()) {
    return std::nullopt;
  }
  const TRecordFormat& ours = mine.formats.rbegin()->second;
  const TRecordFormat& other = theirs.formats.rbegin()->second;
  const std::vector<std::uint16_t> ourFields = StoredFields(ours);
  std::vector<std::uint16_t> byPosition;
  for (const TSchemaColumn& column : theirs.columns) {
    if (!column.computed) {
      if (!other.Stored(column.fieldId)) {
        return std::nullopt;
      }
      byPosition.push_back(column.fieldId);
    }
  }
  std::vector<std::uint16_t> byNumber = byPosition;
  std::sort(byNumber.begin(), byNumber.end());
  for (const std::vector<std::uint16_t>& order : {byPosition, byNumber}) {
    if (order.size() > ourFields.size()) {
      return std::nullopt;
    }
    std::map<std::uint16_t, std::uint16_t> onOurs;  // their field id -> ours
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (SameType(other.Fields()[order[i]], ours.Fields()[ourFields[i]])) {
        onOurs[order[i]] = ourFields[i];
      }
    }
    if (onOurs.size() != order.size()) {
      continue;
    }
    std::vector<TSchemaColumn> columns = theirs.columns;
    for (TSchemaColumn& column : columns) {
      if (!column.computed) {
        column.fieldId = onOurs.at(column.fieldId);
      }
    }
    return columns;
  }
  return std::nullopt;
}

TSchemaTable* Named(TSchema& schema, const std::string& name) {
  for (auto& [id, table] : schema.tables) {
    if (table.name == name) {
      return &table;
    }
  }
  return nullptr;
}

// Tables are matched by name: the other copy's relation ids may differ.
void Merge(TSchema& own, const TSchema& other) {
  for (const auto& [id, theirs] : other.tables) {
    TSchemaTable* mine = Named(own, theirs.name);
    if (mine == nullptr) {
      // A table the file's system tables lost altogether, known by its
      // relation id: only another copy of this very file can say which.
      if (own.tables.count(id) == 0) {
        own.tables[id] = theirs;
      }
      continue;
    }
    if (mine->formats.empty() && mine->relationId == theirs.relationId) {
      mine->formats = theirs.formats;
    }
    if (ColumnsComplete(*mine)) {
      continue;
    }
    if (auto columns = Borrowed(*mine, theirs)) {
      mine->columns = std::move(*columns);
      if (mine->primaryKey.empty()) {
        mine->primaryKey = theirs.primaryKey;
      }
    }
  }
}

}  // namespace

TTableReader::TTableReader(const std::string& path, std::optional<TSchema> otherSchema)
    : reader_(path), own_(TSchemaReader::Read(reader_)), schema_(own_.schema) {
  if (otherSchema) {
    Merge(schema_, *otherSchema);
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
