#include "fbaccess/TIBTransaction.h"

#include <ibase.h>

#include <algorithm>

#include "fbaccess/ClientLibrary.h"
#include "fbaccess/IIBDependent.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/ParameterBlocks.h"

TIBTransaction::TIBTransaction() {
  ClientLibrary::Bind();
}

TIBTransaction::~TIBTransaction() {
  EndForced(defaultAction_);
  const std::vector<IIBDependent*> dependents = dependents_;
  for (IIBDependent* dependent : dependents) {
    dependent->TransactionDestroyed();
  }
  const std::vector<TIBDatabase*> databases = databases_;
  for (TIBDatabase* database : databases) {
    database->RemoveTransaction(this);
  }
}

void TIBTransaction::CheckNotActive() const {
  if (Active()) {
    fbdetail::RaiseClientError(19, "Transação está ativa");
  }
}

void TIBTransaction::CheckActive() const {
  if (!Active()) {
    fbdetail::RaiseClientError(18, "Transação não está ativa");
  }
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database) {
  defaultDatabase_ = database;
  AddDatabase(database);
}

void TIBTransaction::AddDatabase(TIBDatabase* database) {
  if (database == nullptr ||
      std::find(databases_.begin(), databases_.end(), database) != databases_.end()) {
    return;
  }
  databases_.push_back(database);
  database->AddTransaction(this);
}

void TIBTransaction::RemoveDatabase(TIBDatabase* database) {
  const auto found = std::find(databases_.begin(), databases_.end(), database);
  if (found == databases_.end()) {
    return;
  }
  databases_.erase(found);
  if (defaultDatabase_ == database) {
    defaultDatabase_ = nullptr;
  }
  database->RemoveTransaction(this);
}

void TIBTransaction::SetParams(const std::vector<std::string>& params) {
  CheckNotActive();
  params_ = params;
  tpbStale_ = true;
}

void TIBTransaction::AddParam(const std::string& line) {
  CheckNotActive();
  params_.push_back(line);
  tpbStale_ = true;
}

void TIBTransaction::ClearParams() {
  CheckNotActive();
  params_.clear();
  tpbStale_ = true;
}

void TIBTransaction::SetActive(bool value) {
  if (value && !Active()) {
    Start();
  } else if (!value && Active()) {
    Rollback();
  }
}

void TIBTransaction::Start() {
  CheckNotActive();
  if (databases_.empty()) {
    fbdetail::RaiseClientError(21, "Nenhum banco de dados está listado no componente de transação");
  }
  for (TIBDatabase* database : databases_) {
    if (!database->Connected()) {
      fbdetail::RaiseClientError(15, "Não posso executar essa operação -- DB não está aberto");
    }
  }
  if (tpbStale_) {
    tpb_ = fbdetail::BuildTpb(params_);
    tpbStale_ = false;
  }
  std::vector<fbdetail::TransactionElement> elements;
  elements.reserve(databases_.size());
  for (TIBDatabase* database : databases_) {
    elements.push_back(
        {database->Handle(), static_cast<int>(tpb_.size()), tpb_.empty() ? nullptr : tpb_.data()});
  }
  const ISC_STATUS result = fbdetail::Api().isc_start_multiple(
      fbdetail::StatusVector(), &handle_, static_cast<short>(elements.size()), elements.data());
  if (result > 0) {
    handle_ = 0;
    RaiseStatusError();
  }
}

void TIBTransaction::TellDependents() {
  const std::vector<IIBDependent*> dependents = dependents_;
  for (IIBDependent* dependent : dependents) {
    dependent->TransactionEnding();
  }
}

void TIBTransaction::Commit() {
  CheckActive();
  TellDependents();
  CheckStatus(fbdetail::Api().isc_commit_transaction(fbdetail::StatusVector(), &handle_));
  handle_ = 0;
}

void TIBTransaction::Rollback() {
  CheckActive();
  TellDependents();
  CheckStatus(fbdetail::Api().isc_rollback_transaction(fbdetail::StatusVector(), &handle_));
  handle_ = 0;
}

void TIBTransaction::CommitRetaining() {
  CheckActive();
  CheckStatus(fbdetail::Api().isc_commit_retaining(fbdetail::StatusVector(), &handle_));
}

void TIBTransaction::RollbackRetaining() {
  CheckActive();
  CheckStatus(fbdetail::Api().isc_rollback_retaining(fbdetail::StatusVector(), &handle_));
}

void TIBTransaction::EndForced(TTransactionAction action) {
  if (!Active()) {
    return;
  }
  try {
    TellDependents();
  } catch (...) {
    // A statement that cannot let go must not keep the transaction alive.
  }
  const fbdetail::ClientApi& api = fbdetail::Api();
  ISC_STATUS* status = fbdetail::StatusVector();
  if (action == TACommit || action == TACommitRetaining) {
    if (api.isc_commit_transaction(status, &handle_) > 0) {
      api.isc_rollback_transaction(status, &handle_);
    }
  } else {
    api.isc_rollback_transaction(status, &handle_);
  }
  handle_ = 0;
}

void TIBTransaction::AddDependent(IIBDependent* dependent) {
  if (std::find(dependents_.begin(), dependents_.end(), dependent) == dependents_.end()) {
    dependents_.push_back(dependent);
  }
}

void TIBTransaction::RemoveDependent(IIBDependent* dependent) {
  dependents_.erase(std::remove(dependents_.begin(), dependents_.end(), dependent),
                    dependents_.end());
}

void TIBTransaction::CheckStatus(std::intptr_t result) {
  if (result > 0) {
    RaiseStatusError();
  }
}

void TIBTransaction::RaiseStatusError() {
  // Capture the text before closing anything: closing makes client calls of
  // its own on the same status vector.
  const fbdetail::StatusError error = fbdetail::CaptureStatusError(fbdetail::StatusVector());
  if (error.connectionLost) {
    const std::vector<TIBDatabase*> databases = databases_;
    for (TIBDatabase* database : databases) {
      database->ForceClose();
    }
  }
  fbdetail::RaiseStatusError(error);
}
