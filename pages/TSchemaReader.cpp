#include "pages/TSchemaReader.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "pages/TSystemFormats.h"
#include "pages/TValueDecoder.h"

namespace {

using TSF = TSystemFormats;

// Reads fields of one system relation's records.
class TSystemRecord {
 public:
  TSystemRecord(const TRecordFormat& format, const std::vector<std::uint8_t>& data)
      : format_(format), data_(data) {}

  bool Null(std::uint16_t id) const {
    return id / 8 >= data_.size() || (data_[id / 8] & (1u << (id % 8))) != 0;
  }
  std::int32_t Integer(std::uint16_t id) const {
    if (Null(id)) {
      return 0;
    }
    const TFieldDescriptor& d = format_.Fields()[id];
    return d.dtype == ods::kDtypeShort ? ods::Load<std::int16_t>(data_, d.offset)
                                       : ods::Load<std::int32_t>(data_, d.offset);
  }
  // CHAR names without their trailing blanks.
  std::string Name(std::uint16_t id) const {
    if (Null(id)) {
      return {};
    }
    const TFieldDescriptor& d = format_.Fields()[id];
    std::string s(reinterpret_cast<const char*>(data_.data()) + d.offset, d.length);
    const std::size_t end = s.find_last_not_of(' ');
    s.resize(end == std::string::npos ? 0 : end + 1);
    return s;
  }
  const std::uint8_t* Bytes(std::uint16_t id) const {
    return data_.data() + format_.Fields()[id].offset;
  }

 private:
  const TRecordFormat& format_;
  const std::vector<std::uint8_t>& data_;
};

// Calls `use` for each well-formed record of a system relation.
template <typename F>
void ForEach(TPageReader& reader, std::uint16_t relationId, TSchemaReader::TResult& result, F use) {
  const TRecordFormat format = *TSystemFormats::For(relationId);
  TReadCounts counts;
  reader.ReadRecords(
      relationId,
      [&](const TRecordImage& record) {
        if (record.format != 0 || record.data.size() != format.Length()) {
          return false;
        }
        use(TSystemRecord(format, record.data));
        return true;
      },
      counts);
  result.damagedPages.insert(result.damagedPages.end(), counts.damagedPages.begin(),
                             counts.damagedPages.end());
  result.recordsUndecodable += counts.recordsUndecodable;
  if (counts.pagesDamaged != 0 || counts.recordsUndecodable != 0) {
    result.intact = false;
  }
}

}  // namespace

TSchemaReader::TResult TSchemaReader::Read(TPageReader& reader) {
  TResult result;
  result.intact = reader.PagesRelationIntact();
  std::map<std::string, std::uint16_t> idByName;
  ForEach(reader, TSF::kRelations, result, [&](const TSystemRecord& r) {
    const auto id = std::uint16_t(r.Integer(TSF::Relations::kRelationId));
    const std::string name = r.Name(TSF::Relations::kName);
    result.relationNames[id] = name;
    const bool view = !r.Null(TSF::Relations::kViewBlr);
    const bool external = !r.Null(TSF::Relations::kExternalFile);
    const std::int32_t type = r.Integer(TSF::Relations::kRelationType);
    const bool system = r.Integer(TSF::Relations::kSystemFlag) != 0;
    if (!view && !external && type == 0 && !system) {
      TSchemaTable& table = result.schema.tables[id];
      table.relationId = id;
      table.name = name;
      idByName[name] = id;
    }
  });

  std::set<std::string> computed;
  ForEach(reader, TSF::kFields, result, [&](const TSystemRecord& r) {
    if (!r.Null(TSF::Fields::kComputedBlr)) {
      computed.insert(r.Name(TSF::Fields::kName));
    }
  });

  std::map<std::uint16_t, std::vector<std::tuple<std::int32_t, std::uint16_t, TSchemaColumn>>>
      columns;
  ForEach(reader, TSF::kRelationFields, result, [&](const TSystemRecord& r) {
    const auto table = idByName.find(r.Name(TSF::RelationFields::kRelationName));
    if (table == idByName.end()) {
      return;
    }
    TSchemaColumn column;
    column.name = r.Name(TSF::RelationFields::kFieldName);
    column.fieldId = std::uint16_t(r.Integer(TSF::RelationFields::kFieldId));
    column.computed = computed.count(r.Name(TSF::RelationFields::kFieldSource)) != 0;
    const std::int32_t position = r.Null(TSF::RelationFields::kPosition)
                                      ? INT32_MAX
                                      : r.Integer(TSF::RelationFields::kPosition);
    columns[table->second].emplace_back(position, column.fieldId, column);
  });
  for (auto& [id, list] : columns) {
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
      return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    for (const auto& entry : list) {
      result.schema.tables[id].columns.push_back(std::get<2>(entry));
    }
  }

  ForEach(reader, TSF::kFormats, result, [&](const TSystemRecord& r) {
    const auto id = std::uint16_t(r.Integer(TSF::Formats::kRelationId));
    const auto table = result.schema.tables.find(id);
    if (table == result.schema.tables.end() || r.Null(TSF::Formats::kDescriptor)) {
      return;
    }
    const auto blob = reader.ReadBlob(r.Bytes(TSF::Formats::kDescriptor));
    auto format = blob ? TRecordFormat::FromDescriptorBlob(*blob) : std::nullopt;
    if (!format) {
      ++result.recordsUndecodable;
      result.intact = false;
      return;
    }
    table->second.formats[std::uint16_t(r.Integer(TSF::Formats::kFormat))] = std::move(*format);
  });

  std::map<std::string, std::uint16_t> primaryIndex;  // index name -> relation id
  ForEach(reader, TSF::kRelationConstraints, result, [&](const TSystemRecord& r) {
    if (r.Name(TSF::RelationConstraints::kType) != "PRIMARY KEY") {
      return;
    }
    const auto table = idByName.find(r.Name(TSF::RelationConstraints::kRelationName));
    if (table != idByName.end()) {
      primaryIndex[r.Name(TSF::RelationConstraints::kIndexName)] = table->second;
    }
  });
  std::map<std::uint16_t, std::vector<std::pair<std::int32_t, std::string>>> keys;
  ForEach(reader, TSF::kIndexSegments, result, [&](const TSystemRecord& r) {
    const auto index = primaryIndex.find(r.Name(TSF::IndexSegments::kIndexName));
    if (index != primaryIndex.end()) {
      keys[index->second].emplace_back(r.Integer(TSF::IndexSegments::kPosition),
                                       r.Name(TSF::IndexSegments::kFieldName));
    }
  });
  for (auto& [id, segments] : keys) {
    std::sort(segments.begin(), segments.end());
    for (const auto& segment : segments) {
      result.schema.tables[id].primaryKey.push_back(segment.second);
    }
  }
  std::sort(result.damagedPages.begin(), result.damagedPages.end());
  result.damagedPages.erase(std::unique(result.damagedPages.begin(), result.damagedPages.end()),
                            result.damagedPages.end());
  return result;
}
