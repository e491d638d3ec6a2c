#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IIBDependent;
class TIBDatabase;

// How an active transaction ends when it must (its database detaches, or the
// transaction object is destroyed).
enum TTransactionAction { TARollback, TACommit, TARollbackRetaining, TACommitRetaining };

// One transaction over one or more attachments. Not copyable; used by one
// thread at a time. Databases and statements are not owned.
class TIBTransaction {
 public:
  // Binds the client library (throws EIBClientError index 1 when it is missing).
  TIBTransaction();
  // Ends an active transaction by force with DefaultAction; unregisters itself.
  ~TIBTransaction();
  TIBTransaction(const TIBTransaction&) = delete;
  TIBTransaction& operator=(const TIBTransaction&) = delete;

  // The default database is always in the list of databases.
  TIBDatabase* DefaultDatabase() const { return defaultDatabase_; }
  void SetDefaultDatabase(TIBDatabase* database);
  // Registers both ways; a database already listed is not added twice.
  void AddDatabase(TIBDatabase* database);
  void RemoveDatabase(TIBDatabase* database);
  const std::vector<TIBDatabase*>& Databases() const { return databases_; }

  // Transaction parameter lines, turned into the TPB at Start. Every change is
  // refused while active (index 19). Empty: no TPB, the server's default kind.
  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(const std::vector<std::string>& params);
  void AddParam(const std::string& line);
  void ClearParams();

  TTransactionAction DefaultAction() const { return defaultAction_; }
  void SetDefaultAction(TTransactionAction action) { defaultAction_ = action; }

  bool Active() const { return handle_ != 0; }
  // true starts, false rolls back.
  void SetActive(bool value);
  void Start();
  void Commit();
  void Rollback();
  void CommitRetaining();
  void RollbackRetaining();
  // Ends an active transaction with the action, swallowing failures: a failed
  // commit is followed by a rollback, and the handle is cleared in any case.
  // Used when a database closes and on destruction.
  void EndForced(TTransactionAction action);

  // For the layer's other classes: the transaction handle (0 when inactive).
  unsigned int* Handle() { return &handle_; }

  // Statements told before this transaction commits or rolls back.
  void AddDependent(IIBDependent* dependent);
  void RemoveDependent(IIBDependent* dependent);

  // For client calls made for this transaction: a result above 0 raises the
  // composed error of the calling thread's status vector; when that status
  // says the connection was lost (335544741) the transaction's attached
  // databases are closed by force first.
  void CheckStatus(std::intptr_t result);
  [[noreturn]] void RaiseStatusError();

 private:
  void CheckNotActive() const;
  void CheckActive() const;
  void TellDependents();

  TIBDatabase* defaultDatabase_ = nullptr;
  std::vector<TIBDatabase*> databases_;
  std::vector<std::string> params_;
  std::vector<std::uint8_t> tpb_;
  bool tpbStale_ = true;
  TTransactionAction defaultAction_ = TACommit;
  unsigned int handle_ = 0;
  std::vector<IIBDependent*> dependents_;
};
