#include "engine/TBlockInsert.h"

#include <algorithm>
#include <exception>

#include "engine/ERunAborted.h"
#include "engine/SqlName.h"

namespace {

// Bytes a value of the column takes in the input message, with its null
// indicator and alignment.
std::size_t ValueBytes(const TFieldDef& field) {
  return std::max<std::size_t>(static_cast<std::size_t>(field.Size) + 2, 8) + 8;
}

}  // namespace

TBlockInsert::TBlockInsert(TIBDatabase& target, const TTableLayout& layout,
                           std::vector<TFieldDef> fields)
    : target_(target), layout_(layout), fields_(std::move(fields)) {
  const std::size_t columns = layout_.Columns().size();
  if (!layout_.ArrayColumns().empty() || columns == 0 || fields_.size() != columns) {
    return;
  }
  std::size_t rowBytes = 0;
  for (const TFieldDef& field : fields_) {
    rowBytes += ValueBytes(field);
  }
  std::size_t rows = std::min({kMaxRows, kMaxParams / columns, kMaxValueBytes / rowBytes});
  const std::string& table = layout_.Table();
  const std::size_t rowText =
      BlockText(table, layout_.Columns(), 2).size() - BlockText(table, layout_.Columns(), 1).size();
  rows = std::min(rows, (kMaxTextBytes - BlockText(table, layout_.Columns(), 0).size()) / rowText);
  blockRows_ = std::max<std::size_t>(rows, 1);
}

std::string TBlockInsert::ParamName(std::size_t index) {
  std::string name = "V";
  do {
    name += static_cast<char>('0' + index % 10);
    index /= 10;
  } while (index > 0);
  return name;
}

std::string TBlockInsert::BlockText(const std::string& tableName,
                                    const std::vector<std::string>& columns, std::size_t rows) {
  // One insert of a union of one-row selects. An `execute block` would need
  // ":name" for its parameters inside the block, which the client takes for
  // markers of its own. Each value is cast to its column's type, which the
  // server cannot infer for a select of parameters alone.
  const std::string table = SqlName(tableName);
  std::string text = "insert into " + table + " (";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    text += (c == 0 ? "" : ", ") + SqlName(columns[c]);
  }
  text += ")";
  for (std::size_t r = 0; r < rows; ++r) {
    text += r == 0 ? "\nselect " : "\nunion all select ";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      text += (c == 0 ? "cast(:" : ", cast(:") + ParamName(r * columns.size() + c) +
              " as type of column " + table + "." + SqlName(columns[c]) + ")";
    }
    text += " from rdb$database";
  }
  return text;
}

TIBQuery& TBlockInsert::Statement(std::size_t rows) {
  if (statement_ == nullptr || statementRows_ != rows) {
    statement_ = std::make_unique<TIBQuery>();
    statement_->SetDatabase(&target_);
    statement_->SQL().SetText(BlockText(layout_.Table(), layout_.Columns(), rows));
    statementRows_ = rows;
    statement_->Prepare();
    std::vector<TParam>& params = statement_->Params();
    for (std::size_t i = 0; i < params.size(); ++i) {
      params[i].SetDataType(fields_[i % fields_.size()].DataType);
    }
  }
  return *statement_;
}

bool TBlockInsert::Insert(const std::vector<std::vector<TValue>>& rows, std::string& error) {
  if (rows.empty()) {
    return true;
  }
  TIBQuery* statement = nullptr;
  try {
    statement = &Statement(rows.size());
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& e) {
    statement_.reset();
    blockRows_ = 1;
    error = e.what();
    return false;
  }
  // The markers come in the text's order, one per value.
  std::vector<TParam>& params = statement->Params();
  const std::size_t columns = fields_.size();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < columns; ++c) {
      params[r * columns + c].SetValue(rows[r][c]);
    }
  }
  try {
    statement->ExecQuery();
    return true;
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}
