#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fbaccess/TValue.h"
#include "pages/TPageReader.h"
#include "pages/TSchema.h"
#include "pages/TSchemaReader.h"

// One row as the pages hold it, in the column order of select *.
struct TRow {
  const std::vector<std::string>& columns;
  const std::vector<TValue>& values;
  std::uint32_t page = 0;  // where its primary version lives
  std::uint16_t line = 0;
};

// The rows of a table read straight from a database file, one at a time, as
// values of the access layer's types. The schema comes from the file's own
// system tables; `otherSchema` (another copy of the database, e.g. its older
// backup restored) names the columns of tables whose columns the file's
// system tables lost, matched by table name and field types.
class TTableReader {
 public:
  using TRowCallback = std::function<void(const TRow&)>;

  explicit TTableReader(const std::string& path, std::optional<TSchema> otherSchema = {});

  TPageReader& Pages() { return reader_; }
  const TSchema& Schema() const { return schema_; }
  // The file's system tables were read whole.
  bool SystemTablesIntact() const { return own_.intact; }
  const TSchemaReader::TResult& OwnSchema() const { return own_; }
  // Every relation's name the system tables give (system ones too).
  const std::map<std::uint16_t, std::string>& RelationNames() const { return own_.relationNames; }

  // Streams the rows of a table, in storage order. Throws std::runtime_error
  // for a table the schema does not know.
  TReadCounts Read(const std::string& table, const TRowCallback& onRow);
  TReadCounts Read(std::uint16_t relationId, const TRowCallback& onRow);

 private:
  TPageReader reader_;
  TSchemaReader::TResult own_;
  TSchema schema_;
};
