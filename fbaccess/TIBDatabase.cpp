#include "fbaccess/TIBDatabase.h"

#include <ibase.h>

#include <algorithm>
#include <type_traits>

#include "fbaccess/ClientLibrary.h"
#include "fbaccess/IIBDependent.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/ParameterBlocks.h"

static_assert(std::is_same_v<FB_API_HANDLE, unsigned int>,
              "the public headers hand out handles as unsigned int");

namespace {

constexpr int kDialectAnswerSize = 512;

}  // namespace

TIBDatabase::TIBDatabase() {
  ClientLibrary::Bind();
}

TIBDatabase::~TIBDatabase() {
  ForceClose();
  const std::vector<IIBDependent*> dependents = dependents_;
  for (IIBDependent* dependent : dependents) {
    dependent->DatabaseDestroyed();
  }
  const std::vector<TIBTransaction*> transactions = transactions_;
  for (TIBTransaction* transaction : transactions) {
    transaction->RemoveDatabase(this);
  }
}

void TIBDatabase::CheckNotConnected() const {
  if (Connected()) {
    fbdetail::RaiseClientError(16, "Não posso executar essa operação -- DB está aberto");
  }
}

void TIBDatabase::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) {
    return;
  }
  CheckNotConnected();
  databaseName_ = name;
}

void TIBDatabase::SetParams(const std::vector<std::string>& params) {
  CheckNotConnected();
  params_ = params;
  dpbStale_ = true;
}

void TIBDatabase::AddParam(const std::string& line) {
  CheckNotConnected();
  params_.push_back(line);
  dpbStale_ = true;
}

void TIBDatabase::ClearParams() {
  CheckNotConnected();
  params_.clear();
  dpbStale_ = true;
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* transaction) {
  defaultTransaction_ = transaction;
  if (transaction != nullptr) {
    AddTransaction(transaction);
  }
}

void TIBDatabase::SetSQLDialect(int dialect) {
  if (dialect < 1 || (Connected() && dialect > dbSqlDialect_)) {
    fbdetail::RaiseClientError(87, "SQL Dialect Inválido");
  }
  sqlDialect_ = dialect;
}

void TIBDatabase::SetConnected(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TIBDatabase::Open() {
  if (Connected()) {
    return;
  }
  if (databaseName_.empty()) {
    fbdetail::RaiseClientError(17, "Database name não definido");
  }
  if (dpbStale_) {
    dpb_ = fbdetail::BuildDpb(params_);
    dpbStale_ = false;
  }
  const fbdetail::ClientApi& api = fbdetail::Api();
  ISC_STATUS* status = fbdetail::StatusVector();
  if (api.isc_attach_database(status, static_cast<short>(databaseName_.size()),
                              databaseName_.c_str(), &handle_, static_cast<short>(dpb_.size()),
                              reinterpret_cast<const ISC_SCHAR*>(dpb_.data())) > 0) {
    handle_ = 0;
    fbdetail::RaiseStatusError(status);
  }

  const ISC_SCHAR item = isc_info_db_sql_dialect;
  ISC_SCHAR answer[kDialectAnswerSize] = {};
  CheckStatus(api.isc_database_info(status, &handle_, 1, &item, kDialectAnswerSize, answer));
  if (answer[0] != isc_info_db_sql_dialect) {
    dbSqlDialect_ = 1;
  } else {
    const ISC_LONG length = api.isc_vax_integer(answer + 1, 2);
    dbSqlDialect_ = static_cast<int>(api.isc_vax_integer(answer + 3, static_cast<short>(length)));
  }
  if (dbSqlDialect_ < sqlDialect_) {
    sqlDialect_ = dbSqlDialect_;
  }
}

void TIBDatabase::Close() {
  DoClose(false);
}

void TIBDatabase::ForceClose() {
  DoClose(true);
}

void TIBDatabase::DoClose(bool forced) {
  if (!Connected() || closing_) {
    return;
  }
  closing_ = true;
  // Transactions end first, each by its own default action; a failure here
  // never keeps the database open.
  const std::vector<TIBTransaction*> transactions = transactions_;
  for (TIBTransaction* transaction : transactions) {
    if (transaction->Active()) {
      transaction->EndForced(transaction->DefaultAction());
    }
  }
  const std::vector<IIBDependent*> dependents = dependents_;
  for (IIBDependent* dependent : dependents) {
    dependent->DatabaseClosing();
  }
  ISC_STATUS* status = fbdetail::StatusVector();
  if (fbdetail::Api().isc_detach_database(status, &handle_) > 0 && !forced) {
    const fbdetail::StatusError error = fbdetail::CaptureStatusError(status);
    if (error.connectionLost) {
      // Nothing is left to detach from: the database counts as closed.
      handle_ = 0;
      dbSqlDialect_ = 1;
    }
    closing_ = false;
    fbdetail::RaiseStatusError(error);
  }
  handle_ = 0;
  dbSqlDialect_ = 1;
  closing_ = false;
}

void TIBDatabase::AddTransaction(TIBTransaction* transaction) {
  if (transaction == nullptr ||
      std::find(transactions_.begin(), transactions_.end(), transaction) != transactions_.end()) {
    return;
  }
  transactions_.push_back(transaction);
  transaction->AddDatabase(this);
}

void TIBDatabase::RemoveTransaction(TIBTransaction* transaction) {
  const auto found = std::find(transactions_.begin(), transactions_.end(), transaction);
  if (found == transactions_.end()) {
    return;
  }
  transactions_.erase(found);
  if (defaultTransaction_ == transaction) {
    defaultTransaction_ = nullptr;
  }
  transaction->RemoveDatabase(this);
}

void TIBDatabase::AddDependent(IIBDependent* dependent) {
  if (std::find(dependents_.begin(), dependents_.end(), dependent) == dependents_.end()) {
    dependents_.push_back(dependent);
  }
}

void TIBDatabase::RemoveDependent(IIBDependent* dependent) {
  dependents_.erase(std::remove(dependents_.begin(), dependents_.end(), dependent),
                    dependents_.end());
}

void TIBDatabase::CheckStatus(std::intptr_t result) {
  if (result > 0) {
    RaiseStatusError();
  }
}

void TIBDatabase::RaiseStatusError() {
  // Capture the text before closing: the close makes client calls of its own
  // on the same status vector.
  RaiseStatusError(fbdetail::CaptureStatusError(fbdetail::StatusVector()));
}

void TIBDatabase::RaiseStatusError(const fbdetail::StatusError& error) {
  if (error.connectionLost) {
    ForceClose();
  }
  fbdetail::RaiseStatusError(error);
}
