#include "fbaccess/TIBQuery.h"

#include <strings.h>

#include <cstring>

#include "fbaccess/EDatabaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/SqlParamScan.h"
#include "fbaccess/detail/TIBSQL.h"

using fbdetail::RaiseClientError;

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

TIBQuery::TIBQuery(const std::string& name)
    : sql_([this] { SqlChanged(); }), statement_(std::make_unique<fbdetail::TIBSQL>(name)) {}

TIBQuery::~TIBQuery() {
  Release();
  if (database_ != nullptr) {
    database_->RemoveDependent(this);
  }
  if (transaction_ != nullptr) {
    transaction_->RemoveDependent(this);
  }
}

void TIBQuery::SetDatabase(TIBDatabase* database) {
  if (database == database_) {
    return;
  }
  if (active_) {
    RaiseClientError(33, "Dataset Aberta");
  }
  Unprepare();
  if (database_ != nullptr) {
    database_->RemoveDependent(this);
  }
  database_ = database;
  statement_->SetDatabase(database);
  if (database_ == nullptr) {
    return;
  }
  database_->AddDependent(this);
  if (transaction_ == nullptr) {
    TIBTransaction* tr = database_->DefaultTransaction();
    if (tr == nullptr) {
      for (TIBTransaction* candidate : database_->Transactions()) {
        if (candidate->DefaultDatabase() == database_) {
          tr = candidate;
          break;
        }
      }
    }
    SetTransaction(tr);
  }
}

void TIBQuery::SetTransaction(TIBTransaction* transaction) {
  if (transaction == transaction_) {
    return;
  }
  Close();
  Unprepare();
  if (transaction_ != nullptr) {
    transaction_->RemoveDependent(this);
  }
  transaction_ = transaction;
  statement_->SetTransaction(transaction);
  if (transaction_ != nullptr) {
    transaction_->AddDependent(this);
  }
}

void TIBQuery::SetParamCheck(bool value) {
  if (value != paramCheck_) {
    paramCheck_ = value;
    SqlChanged();
  }
}

void TIBQuery::SqlChanged() {
  Close();
  Unprepare();
  std::vector<TParam> fresh;
  if (paramCheck_) {
    for (const std::string& name : fbdetail::ScanParamNames(sql_.Text())) {
      TParam param(name);
      for (const TParam& old : params_) {
        if (SameName(old.Name(), name)) {
          param.SetDataType(old.DataType());
          param.SetValue(old.Value());
          break;
        }
      }
      fresh.push_back(std::move(param));
    }
  }
  params_ = std::move(fresh);
}

TParam& TIBQuery::ParamNamed(const std::string& name) {
  for (TParam& p : params_) {
    if (SameName(p.Name(), name)) {
      return p;
    }
  }
  throw EDatabaseError("Parametro '" + name + "' não encontrado");
}

bool TIBQuery::Prepared() const {
  return statement_->Prepared();
}

int TIBQuery::StatementType() const {
  return statement_->StatementType();
}

void TIBQuery::EnsureConnected() {
  if (database_ == nullptr) {
    RaiseClientError(24, "Database não associada");
  }
  if (transaction_ == nullptr) {
    RaiseClientError(25, "Transação não associada");
  }
  if (!database_->Connected()) {
    database_->Open();
  }
  if (!transaction_->Active()) {
    transaction_->Start();
  }
}

void TIBQuery::Prepare() {
  if (Prepared()) {
    return;
  }
  const std::string text = sql_.Text();
  if (text.size() < 2) {
    RaiseClientError(65, "Declaração de SQL vazia");
  }
  EnsureConnected();
  fbdetail::ProcessedSql processed;
  if (paramCheck_) {
    processed = fbdetail::ProcessSqlText(text);
  } else {
    processed.Text = text;
  }
  if (IsBlank(processed.Text)) {
    RaiseClientError(42, "Query Vazia");
  }
  // Values are matched to markers by name: every marker needs a parameter.
  for (const std::string& name : processed.Names) {
    if (name.empty()) {
      RaiseClientError(55, "SQL Parse Error:\r\n\r\nNome de parâmetro esperado");
    }
    ParamNamed(name);
  }
  statement_->Prepare(processed.Text, processed.Names);

  fieldDefs_.clear();
  fields_.clear();
  fbdetail::TIBXSQLDA& out = statement_->Fields();
  for (int i = 0; i < out.Count(); ++i) {
    const XSQLVAR& meta = out[i].Raw();
    if (!fbdetail::TIBXSQLVAR::IsSupportedColumn(meta)) {
      continue;
    }
    TFieldDef def{out[i].AliasName(), fbdetail::TIBXSQLVAR::ColumnType(meta),
                  fbdetail::TIBXSQLVAR::ColumnSize(meta)};
    fieldDefs_.push_back(def);
    fields_.emplace_back(*this, i, def);
  }
  rowSize_ = out.RowSize();
  procedureRow_ = false;
}

void TIBQuery::Unprepare() {
  Close();
  statement_->FreeHandle();
  fieldDefs_.clear();
  fields_.clear();
  procedureRow_ = false;
}

void TIBQuery::PassParams() {
  fbdetail::TIBXSQLDA& in = statement_->Params();
  const fbdetail::StatementContext ctx = statement_->Context();
  std::vector<bool> written(std::size_t(in.Count()), false);
  for (int i = 0; i < in.Count(); ++i) {
    if (written[std::size_t(i)]) {
      continue;
    }
    const std::string& name = in[i].Name();
    if (name.empty()) {
      continue;  // text sent unchanged: the entry stays null
    }
    const TParam& param = ParamNamed(name);
    // Writes every entry of this name at once.
    in[i].SetValue(param.Value(), param.DataType(), ctx);
    for (int j = i; j < in.Count(); ++j) {
      if (SameName(in[j].Name(), name)) {
        written[std::size_t(j)] = true;
      }
    }
  }
}

void TIBQuery::DropRows() {
  chunks_.clear();
  rowCount_ = 0;
  current_ = 0;
}

bool TIBQuery::FetchRow() {
  if (!statement_->Fetch()) {
    return false;
  }
  const std::size_t slot = rowCount_ % kChunkRows;
  if (slot == 0) {
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkRows * rowSize_));
  }
  std::memcpy(chunks_.back().get() + slot * rowSize_, statement_->Fields().RowImage(), rowSize_);
  ++rowCount_;
  return true;
}

void TIBQuery::Open() {
  if (active_) {
    return;
  }
  EnsureConnected();
  Prepare();
  PassParams();
  const int type = statement_->StatementType();
  if (type != fbdetail::kStmtSelect && type != fbdetail::kStmtSelectForUpdate) {
    ExecStatement();
    return;
  }
  procedureRow_ = false;
  statement_->OpenCursor();
  DropRows();
  active_ = true;
  atEnd_ = false;
  try {
    if (!FetchRow()) {
      atEnd_ = true;
    }
  } catch (...) {
    active_ = false;
    DropRows();
    throw;
  }
}

void TIBQuery::Close() {
  if (!active_) {
    return;
  }
  active_ = false;
  atEnd_ = true;
  DropRows();
  statement_->CloseCursor();
}

void TIBQuery::Next() {
  if (!active_ || atEnd_) {
    return;
  }
  if (current_ + 1 < rowCount_) {
    ++current_;
    return;
  }
  bool fetched = false;
  try {
    fetched = FetchRow();
  } catch (...) {
    // The statement closed its cursor; the query is closed with it.
    active_ = false;
    atEnd_ = true;
    DropRows();
    throw;
  }
  if (fetched) {
    ++current_;
  } else {
    atEnd_ = true;
  }
}

void TIBQuery::ExecStatement() {
  const int type = statement_->StatementType();
  if (type == fbdetail::kStmtExecProcedure) {
    if (!statement_->TryExecProcedure()) {
      // Prepared once more and run again; a second failure raises.
      statement_->FreeHandle();
      Prepare();
      PassParams();
      statement_->ExecProcedure();
    }
    procedureRow_ = true;
  } else {
    procedureRow_ = false;
    statement_->Execute();
  }
}

void TIBQuery::ExecQuery() {
  if (active_) {
    throw EDatabaseError("Não é possível realizar esta operação em um arquivo aberto");
  }
  if (sql_.Count() == 0) {
    RaiseClientError(65, "Declaração de SQL vazia");
  }
  EnsureConnected();
  Prepare();
  if (statement_->Params().Count() > 0) {
    PassParams();
  }
  const int type = statement_->StatementType();
  if (type == fbdetail::kStmtSelect || type == fbdetail::kStmtSelectForUpdate) {
    RaiseClientError(66, "use \"Open\" para executar um \"Select\"");
  }
  ExecStatement();
}

const TField& TIBQuery::FieldNamed(const std::string& name) const {
  for (const TField& f : fields_) {
    if (SameName(f.Name(), name)) {
      return f;
    }
  }
  throw EDatabaseError("Campo '" + name + "' não encontrado");
}

const char* TIBQuery::CurrentRow() const {
  if (active_ && rowCount_ > 0) {
    return chunks_[current_ / kChunkRows].get() + (current_ % kChunkRows) * rowSize_;
  }
  if (procedureRow_) {
    return statement_->Fields().RowImage();
  }
  return nullptr;
}

bool TIBQuery::ColumnIsNull(int column) const {
  const char* row = CurrentRow();
  if (row == nullptr) {
    return true;
  }
  const fbdetail::TIBXSQLVAR& var = statement_->Fields()[column];
  short ind = 0;
  std::memcpy(&ind, row + var.IndOffset(), sizeof ind);
  return ind < 0;
}

std::string TIBQuery::ColumnText(int column) const {
  const char* row = CurrentRow();
  if (row == nullptr) {
    return std::string();
  }
  const fbdetail::TIBXSQLVAR& var = statement_->Fields()[column];
  short ind = 0;
  std::memcpy(&ind, row + var.IndOffset(), sizeof ind);
  return fbdetail::TIBXSQLVAR::DecodeText(var.Raw(), row + var.DataOffset(), ind < 0,
                                          statement_->Context());
}

TValue TIBQuery::ColumnValue(int column) const {
  const char* row = CurrentRow();
  if (row == nullptr) {
    return TValue();
  }
  const fbdetail::TIBXSQLVAR& var = statement_->Fields()[column];
  short ind = 0;
  std::memcpy(&ind, row + var.IndOffset(), sizeof ind);
  return fbdetail::TIBXSQLVAR::DecodeValue(var.Raw(), row + var.DataOffset(), ind < 0,
                                           statement_->Context());
}

void TIBQuery::Release() noexcept {
  active_ = false;
  atEnd_ = true;
  procedureRow_ = false;
  DropRows();
  statement_->FreeHandleQuietly();
  fieldDefs_.clear();
  fields_.clear();
}

void TIBQuery::DatabaseClosing() {
  Release();
}

void TIBQuery::TransactionEnding() {
  Release();
}

void TIBQuery::DatabaseDestroyed() {
  Release();
  database_ = nullptr;
  statement_->SetDatabase(nullptr);
}

void TIBQuery::TransactionDestroyed() {
  Release();
  transaction_ = nullptr;
  statement_->SetTransaction(nullptr);
}

bool TField::IsNull() const {
  return query_->ColumnIsNull(column_);
}
std::string TField::AsString() const {
  return query_->ColumnText(column_);
}
TValue TField::Value() const {
  return query_->ColumnValue(column_);
}
