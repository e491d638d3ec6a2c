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
  std::size_t rows = std::min(kMaxParams / columns, kMaxValueBytes / rowBytes);
  const std::size_t rowText = BlockText(layout_, 2).size() - BlockText(layout_, 1).size();
  rows = std::min(rows, (kMaxTextBytes - BlockText(layout_, 0).size()) / rowText);
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

std::string TBlockInsert::BlockText(const TTableLayout& layout, std::size_t rows) {
  const std::vector<std::string>& columns = layout.Columns();
  const std::string table = SqlName(layout.Table());
  std::string insert = "insert into " + table + " (";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    insert += (c == 0 ? "" : ", ") + SqlName(columns[c]);
  }
  insert += ") values (";
  std::string declarations;
  std::string body;
  for (std::size_t r = 0; r < rows; ++r) {
    body += insert;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string name = ParamName(r * columns.size() + c);
      declarations += (declarations.empty() ? "" : ",\n") + name + " type of column " + table +
                      "." + SqlName(columns[c]) + " = :" + name;
      // Inside the block the parameters are named without a colon, which
      // the client would take for parameters of its own.
      body += (c == 0 ? "" : ", ") + name;
    }
    body += ");\n";
  }
  return "execute block (" + declarations + ")\nas begin\n" + body + "end";
}

TIBQuery& TBlockInsert::Statement(std::size_t rows) {
  if (statement_ == nullptr || statementRows_ != rows) {
    statement_ = std::make_unique<TIBQuery>();
    statement_->SetDatabase(&target_);
    statement_->SQL().SetText(BlockText(layout_, rows));
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
