#include "fbaccess/TIBQuery.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "fbaccess/EDatabaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ArrayIO.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/SqlParamScan.h"
#include "fbaccess/detail/TIBSQL.h"

using fbdetail::RaiseClientError;

namespace {

// ASCII letters ignoring case, as strcasecmp compares them; called for every
// column read by name, so the lengths are compared first.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) {
      x = (x >= 'A' && x <= 'Z') ? x + ('a' - 'A') : x;
      y = (y >= 'A' && y <= 'Z') ? y + ('a' - 'A') : y;
      if (x != y) {
        return false;
      }
    }
  }
  return true;
}

// The key a name is matched by, ignoring case as SameName does.
std::string NameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + ('a' - 'A'));
    }
  }
  return key;
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
    // The first old parameter of each name, found by key: a statement may
    // have thousands of parameters.
    std::unordered_map<std::string, const TParam*> old;
    for (const TParam& param : params_) {
      old.try_emplace(NameKey(param.Name()), &param);
    }
    for (const std::string& name : fbdetail::ScanParamNames(sql_.Text())) {
      TParam param(name);
      const auto same = old.find(NameKey(name));
      if (same != old.end()) {
        param.SetDataType(same->second->DataType());
        param.SetValue(same->second->Value());
      }
      fresh.push_back(std::move(param));
    }
  }
  params_ = std::move(fresh);
  markerParams_.clear();
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
  // Values are matched to markers by name: every marker needs a parameter,
  // the first of its name. Matched once here, so that each run writes each
  // marker straight from its parameter.
  std::unordered_map<std::string, std::size_t> firstParam;
  for (std::size_t i = 0; i < params_.size(); ++i) {
    firstParam.try_emplace(NameKey(params_[i].Name()), i);
  }
  std::vector<std::size_t> markerParams;
  markerParams.reserve(processed.Names.size());
  for (const std::string& name : processed.Names) {
    if (name.empty()) {
      RaiseClientError(55, "SQL Parse Error:\r\n\r\nNome de parâmetro esperado");
    }
    const auto param = firstParam.find(NameKey(name));
    if (param == firstParam.end()) {
      throw EDatabaseError("Parametro '" + name + "' não encontrado");
    }
    markerParams.push_back(param->second);
  }
  // The entries go unnamed to the statement: an entry with a name writes its
  // value into every entry of the same name, a search through all of them
  // for each value, while the markers are matched above already.
  statement_->Prepare(processed.Text, std::vector<std::string>(processed.Names.size()));
  markerParams_ = std::move(markerParams);

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
  firstOfName_.assign(fields_.size(), 1);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(fields_[j].Name(), fields_[i].Name())) {
        firstOfName_[i] = 0;
        break;
      }
    }
  }
  nextField_ = 0;
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
  // Entries past the markers (text sent unchanged has none) stay null.
  const int count = std::min(in.Count(), static_cast<int>(markerParams_.size()));
  for (int i = 0; i < count; ++i) {
    const TParam& param = params_[markerParams_[std::size_t(i)]];
    in[i].SetValue(param.Value(), param.DataType(), ctx);
  }
}

void TIBQuery::DropRows() {
  rowCount_ = 0;
  currentRow_ = nullptr;
}

const char* TIBQuery::FetchRow() {
  if (rowsFor_ != rowSize_) {
    rows_ = std::make_unique_for_overwrite<std::uint64_t[]>(2 * rowSize_ / 8);
    rowsFor_ = rowSize_;
  }
  // The slot the current row is not in: a fetch that finds the end leaves
  // the last row as it was.
  char* image = reinterpret_cast<char*>(rows_.get()) + (rowCount_ % 2) * rowSize_;
  if (!statement_->Fetch(image)) {
    return nullptr;
  }
  ++rowCount_;
  return image;
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
    currentRow_ = FetchRow();
    if (currentRow_ == nullptr) {
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
  const char* fetched = nullptr;
  try {
    fetched = FetchRow();
  } catch (...) {
    // The statement closed its cursor; the query is closed with it.
    active_ = false;
    atEnd_ = true;
    DropRows();
    throw;
  }
  if (fetched != nullptr) {
    currentRow_ = fetched;
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

const TField& TIBQuery::FieldNamed(std::string_view name) const {
  // Rows are mostly read column after column in the same order: the field
  // after the last one found is tried first. It counts only when no earlier
  // field has the same name, so the answer is still the first of that name.
  if (nextField_ < fields_.size() && firstOfName_[nextField_] != 0 &&
      SameName(fields_[nextField_].Name(), name)) {
    const TField& f = fields_[nextField_];
    nextField_ = nextField_ + 1 < fields_.size() ? nextField_ + 1 : 0;
    return f;
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (SameName(fields_[i].Name(), name)) {
      nextField_ = i + 1 < fields_.size() ? i + 1 : 0;
      return fields_[i];
    }
  }
  throw EDatabaseError("Campo '" + std::string(name) + "' não encontrado");
}

const char* TIBQuery::ProcedureRow() const {
  if (procedureRow_) {
    return statement_->Fields().RowImage();
  }
  return nullptr;
}

namespace {

bool IndicatesNull(const char* row, const fbdetail::TIBXSQLDA::Slot& slot) {
  if (!slot.Nullable) {
    return false;
  }
  short ind = 0;
  std::memcpy(&ind, row + slot.Ind, sizeof ind);
  return ind < 0;
}

}  // namespace

bool TIBQuery::ColumnIsNull(int column) const {
  const char* row = CurrentRow();
  return row == nullptr || IndicatesNull(row, statement_->Fields().SlotOf(column));
}

std::string TIBQuery::ColumnText(int column) const {
  std::string text;
  ColumnTextInto(column, text);
  return text;
}

void TIBQuery::ColumnTextInto(int column, std::string& text) const {
  const char* row = CurrentRow();
  if (row == nullptr) {
    text.clear();
    return;
  }
  const fbdetail::TIBXSQLDA& out = statement_->Fields();
  const fbdetail::TIBXSQLDA::Slot& slot = out.SlotOf(column);
  const XSQLVAR& meta = out.Area()->sqlvar[column];
  // Only a blob is read through the statement's connection.
  const fbdetail::StatementContext ctx =
      (meta.sqltype & ~1) == SQL_BLOB ? statement_->Context() : fbdetail::StatementContext{};
  fbdetail::TIBXSQLVAR::DecodeTextInto(meta, row + slot.Data, IndicatesNull(row, slot), ctx, text);
}

TValue TIBQuery::ColumnValue(int column) const {
  const char* row = CurrentRow();
  if (row == nullptr) {
    return TValue();
  }
  const fbdetail::TIBXSQLDA& out = statement_->Fields();
  const fbdetail::TIBXSQLDA::Slot& slot = out.SlotOf(column);
  return fbdetail::TIBXSQLVAR::DecodeValue(out.Area()->sqlvar[column], row + slot.Data,
                                           IndicatesNull(row, slot), statement_->Context());
}

TValue TIBQuery::ArrayNamed(std::string_view name) const {
  const fbdetail::TIBXSQLDA& out = statement_->Fields();
  for (int i = 0; i < out.Count(); ++i) {
    const XSQLVAR& meta = out.Area()->sqlvar[i];
    if ((meta.sqltype & ~1) != SQL_ARRAY || !SameName(out[i].AliasName(), name)) {
      continue;
    }
    const char* row = CurrentRow();
    const fbdetail::TIBXSQLDA::Slot& slot = out.SlotOf(i);
    if (row == nullptr || IndicatesNull(row, slot)) {
      return TValue();
    }
    ISC_QUAD id;
    std::memcpy(&id, row + slot.Data, sizeof id);
    const fbdetail::StatementContext ctx = statement_->Context();
    return TValue(fbdetail::ReadArray(ctx, out[i].ArrayShape(ctx), id));
  }
  throw EDatabaseError("Campo '" + std::string(name) + "' não encontrado");
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
void TField::ReadText(std::string& out) const {
  query_->ColumnTextInto(column_, out);
}
TValue TField::Value() const {
  return query_->ColumnValue(column_);
}
