#include "engine/rows/TBlockInsert.h"

#include <algorithm>
#include <exception>

#include "engine/firebird/SqlName.h"
#include "engine/run/ERunAborted.h"

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
  statementRows_ = std::max<std::size_t>(rows, 1);
  blockRows_ = statementRows_;
  TIBTransaction* const transaction = target_.DefaultTransaction();
  if (transaction == nullptr) {
    return;
  }
  std::vector<TFieldType> types;
  for (const TFieldDef& field : fields_) {
    types.push_back(field.DataType);
  }
  try {
    store_ = std::make_unique<TIBBlockStore>(target_, *transaction, table, layout_.Columns(),
                                             std::move(types));
  } catch (const std::exception&) {
    // Execute blocks serve; they fail the same way if the server is gone.
  }
  if (store_ != nullptr && store_->Usable()) {
    blockRows_ = store_->MaxRows();
  } else {
    store_.reset();
  }
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
  // An execute block of one insert per row: the server runs plain inserts,
  // with no select or cast per row. Each parameter takes its column's own
  // type, character set and scale included; the code reaches the parameters
  // as ":V0", which the access layer leaves to the server in a block.
  const std::string table = SqlName(tableName);
  std::string insert = "insert into " + table + " (";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    insert += (c == 0 ? "" : ", ") + SqlName(columns[c]);
  }
  insert += ") values (";
  std::string text = "execute block (";
  std::string code;
  for (std::size_t r = 0; r < rows; ++r) {
    code += insert;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string name = ParamName(r * columns.size() + c);
      text += (r + c == 0 ? "\n" : ",\n") + name + " type of column " + table + "." +
              SqlName(columns[c]) + " = ?";
      code += (c == 0 ? ":" : ", :") + name;
    }
    code += ");\n";
  }
  return text + ")\nas begin\n" + code + "end";
}

std::size_t TBlockInsert::TargetRows(std::size_t given, std::size_t blockRows) {
  std::size_t rows = 1;
  for (std::size_t step = kFirstBlockRows; rows < blockRows; step *= 4) {
    const std::size_t size = std::min(step, blockRows);
    if (given < kPaidBack * size) {
      break;
    }
    rows = size;
  }
  return rows;
}

std::size_t TBlockInsert::PreparedRows(std::size_t rows) const {
  std::size_t best = 1;
  for (const TPrepared& prepared : prepared_) {
    if (prepared.rows <= std::min(rows, blockRows_)) {
      best = std::max(best, prepared.rows);
    }
  }
  return best;
}

TIBQuery& TBlockInsert::Statement(std::size_t rows) {
  for (TPrepared& prepared : prepared_) {
    if (prepared.rows == rows) {
      return *prepared.query;
    }
  }
  auto query = std::make_unique<TIBQuery>();
  query->SetDatabase(&target_);
  query->SQL().SetText(BlockText(layout_.Table(), layout_.Columns(), rows));
  query->Prepare();
  std::vector<TParam>& params = query->Params();
  for (std::size_t i = 0; i < params.size(); ++i) {
    params[i].SetDataType(fields_[i % fields_.size()].DataType);
  }
  prepared_.push_back({rows, std::move(query)});
  return *prepared_.back().query;
}

void TBlockInsert::DropRequests() {
  store_.reset();
  prepared_.clear();
  blockRows_ = statementRows_;
}

bool TBlockInsert::ByRequest(std::size_t rows, const std::function<void()>& call,
                             std::string& error) {
  try {
    call();
  } catch (const std::exception& e) {
    error = e.what();
    if (!store_->Compiled(rows)) {
      // The server took no request for this table: execute blocks instead.
      DropRequests();
    }
    return false;
  }
  if (PreparedRows(rows) != rows) {
    prepared_.push_back({rows, nullptr});
  }
  return true;
}

bool TBlockInsert::InsertByRequest(std::span<const std::vector<TValue>> rows, std::string& error) {
  return ByRequest(
      rows.size(), [&] { store_->Store(rows); }, error);
}

bool TBlockInsert::Encode(std::span<const std::vector<TValue>> rows, std::string& error) {
  try {
    store_->Encode(rows);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  encodedRows_ = rows.size();
  return true;
}

bool TBlockInsert::Send(std::string& error) {
  return ByRequest(
      encodedRows_, [&] { store_->Send(); }, error);
}

bool TBlockInsert::Wait(std::string& error) {
  if (store_ == nullptr) {
    return true;
  }
  try {
    store_->Wait();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

bool TBlockInsert::Insert(std::span<const std::vector<TValue>> rows, std::string& error) {
  if (rows.empty()) {
    return true;
  }
  if (store_ != nullptr) {
    return InsertByRequest(rows, error);
  }
  TIBQuery* statement = nullptr;
  try {
    statement = &Statement(rows.size());
  } catch (const std::exception& e) {
    // The smaller sizes prepared before still serve.
    blockRows_ = PreparedRows(rows.size() - 1);
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
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}
