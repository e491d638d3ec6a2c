#pragma once

// One entry of a descriptor area (XSQLVAR): a result column or a statement
// parameter, with the conversions between the server's types and TValue.

#include <ibase.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fbaccess/TFieldType.h"
#include "fbaccess/TValue.h"

class TIBDatabase;
class TIBTransaction;

namespace fbdetail {

class TIBXSQLDA;

// What a conversion needs from the statement: blobs are read and written in
// its transaction, dates and decimals are written as its dialect wants.
struct StatementContext {
  TIBDatabase* Database = nullptr;
  TIBTransaction* Transaction = nullptr;
  int Dialect = 3;
};

class TIBXSQLVAR {
 public:
  TIBXSQLVAR(TIBXSQLDA& owner, int index) : owner_(&owner), index_(index) {}

  XSQLVAR& Raw();
  const XSQLVAR& Raw() const;
  int Index() const { return index_; }

  // The parameter name recorded by the text scan (input entries).
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  std::string AliasName() const;
  std::string SqlName() const;
  std::string RelName() const;

  // --- input entries ---
  // Remembers the type the server described and gives the entry its own
  // buffer and null indicator. Called after isc_dsql_describe_bind.
  void KeepDescribedType();
  // Writes the value converted to the parameter type into this entry and into
  // every other entry of the area carrying the same name.
  void SetValue(const TValue& value, TFieldType type, const StatementContext& ctx);
  short DescribedType() const { return declType_; }

  // --- output entries (data read from a row image) ---
  // Offsets of this column's data and null indicator in a row image, set by
  // TIBXSQLDA::LayOutRow.
  std::size_t DataOffset() const { return dataOffset_; }
  std::size_t IndOffset() const { return indOffset_; }
  void SetOffsets(std::size_t data, std::size_t ind) {
    dataOffset_ = data;
    indOffset_ = ind;
    arrayShape_.reset();  // described anew
  }

  // --- array entries (either kind) ---
  // The column's array descriptor, looked up by its table and column name
  // once per description of the statement.
  const ISC_ARRAY_DESC& ArrayShape(const StatementContext& ctx) const;

  // Columns of these types are exposed as fields; others (arrays) are not.
  static bool IsSupportedColumn(const XSQLVAR& meta);
  static TFieldType ColumnType(const XSQLVAR& meta);
  // Size for FieldDefs: the declared bytes of text columns, else 0.
  static int ColumnSize(const XSQLVAR& meta);
  // Decoding of one column value from its data bytes.
  static TValue DecodeValue(const XSQLVAR& meta, const char* data, bool isNull,
                            const StatementContext& ctx);
  static std::string DecodeText(const XSQLVAR& meta, const char* data, bool isNull,
                                const StatementContext& ctx);
  // The same text into `out`, reusing its storage.
  static void DecodeTextInto(const XSQLVAR& meta, const char* data, bool isNull,
                             const StatementContext& ctx, std::string& out);

 private:
  void WriteValue(const TValue& value, TFieldType type, const StatementContext& ctx);
  void WriteText(const std::string& text, bool raw, const StatementContext& ctx);
  char* Reserve(short sqltype, short length, short scale);
  void SetNull();

  TIBXSQLDA* owner_;
  int index_;
  std::string name_;
  short declType_ = 0;  // without the null bit
  short declLen_ = 0;
  short declScale_ = 0;
  short declSubType_ = 0;
  std::vector<std::uint64_t> buffer_;  // 8-byte aligned storage for the data
  short ind_ = 0;
  std::size_t dataOffset_ = 0;
  std::size_t indOffset_ = 0;
  mutable std::optional<ISC_ARRAY_DESC> arrayShape_;
};

}  // namespace fbdetail
