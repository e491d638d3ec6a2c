#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/TTableLayout.h"
#include "fbaccess/TFieldDef.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TValue.h"

// Inserts rows of one table several at a time: each block of rows is one
// `execute block` whose parameters carry every value and whose code is one
// plain insert per row, so a block costs one round trip to the server
// instead of one per row. The server undoes a block it refuses as a whole;
// the caller then inserts its rows one by one, so that the row at fault is
// found and the others still go in.
class TBlockInsert {
 public:
  // Rows of one block: each row's insert is a context of the statement, and
  // Firebird 3 numbers at most 256 of them.
  static constexpr std::size_t kMaxRows = 240;
  // Values of one block: the client describes each in a descriptor entry
  // counted in 16 bits.
  static constexpr std::size_t kMaxParams = 16000;
  // Bytes of the values of one block (the input message) and of its text,
  // far below what Firebird 3 takes (a statement text of 10 MB; blocks of
  // 1 MB of values went in in the tests).
  static constexpr std::size_t kMaxValueBytes = 512000;
  static constexpr std::size_t kMaxTextBytes = 1000000;

  // `fields` are the layout's columns as the target describes them (a
  // select of the layout's columns prepared there).
  TBlockInsert(TIBDatabase& target, const TTableLayout& layout, std::vector<TFieldDef> fields);

  // Rows per block; 1 when blocks cannot be used (array columns, which a
  // block's parameter cannot be, or rows too wide for one).
  std::size_t BlockRows() const { return blockRows_; }
  // Inserts the rows (at most BlockRows()) in one statement. False when the
  // server refused it: none of them is in. A block that cannot even be
  // prepared turns blocks off (BlockRows() becomes 1).
  bool Insert(const std::vector<std::vector<TValue>>& rows, std::string& error);

  // The statement for `rows` rows of `columns` of `table`.
  static std::string BlockText(const std::string& table, const std::vector<std::string>& columns,
                               std::size_t rows);
  // A parameter's name for value `index`, short and distinct (its least
  // significant digit first).
  static std::string ParamName(std::size_t index);

 private:
  TIBQuery& Statement(std::size_t rows);

  TIBDatabase& target_;
  const TTableLayout& layout_;
  std::vector<TFieldDef> fields_;
  std::size_t blockRows_ = 1;
  // Prepared once and run for every block of its size: the full blocks',
  // and the last size other than that (a table's last, partial block).
  struct TPrepared {
    std::unique_ptr<TIBQuery> query;
    std::size_t rows = 0;
  };
  TPrepared full_;
  TPrepared other_;
};
