#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IIBDependent;
class TIBTransaction;
namespace fbdetail {
struct StatusError;
}

// One attachment to a Firebird database through the bound client library.
// Not copyable; used by one thread at a time. The transactions and statements
// registered with it are not owned: each side unregisters itself when it is
// destroyed.
class TIBDatabase {
 public:
  // Binds the client library (throws EIBClientError index 1 when it is missing).
  TIBDatabase();
  // Closes an open attachment by force (errors swallowed).
  ~TIBDatabase();
  TIBDatabase(const TIBDatabase&) = delete;
  TIBDatabase& operator=(const TIBDatabase&) = delete;

  // The connection string, passed to the client as is ("localhost:/path").
  // Refused while attached (index 16); setting the same value does nothing.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);

  // Connection parameter lines "name=value", turned into the DPB at Open.
  // Every change is refused while attached (index 16).
  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(const std::vector<std::string>& params);
  void AddParam(const std::string& line);
  void ClearParams();

  // Default true; the program sets it false. No login dialog is ever shown.
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool value) { loginPrompt_ = value; }

  // The transaction statements use when they have none of their own.
  // Registers the transaction with this database and this database with it.
  TIBTransaction* DefaultTransaction() const { return defaultTransaction_; }
  void SetDefaultTransaction(TIBTransaction* transaction);

  // Dialect used for statements (default 3). Below 1, or above DBSQLDialect
  // while attached, fails with index 87.
  int SQLDialect() const { return sqlDialect_; }
  void SetSQLDialect(int dialect);
  // The attached database's own dialect: 3 before the first attach, read at
  // Open, 1 after a detach.
  int DBSQLDialect() const { return dbSqlDialect_; }

  bool Connected() const { return handle_ != 0; }
  void SetConnected(bool value);
  // Attaches; nothing happens when already attached.
  void Open();
  // Ends this database's active transactions with their DefaultAction, tells
  // the dependents, detaches. Nothing happens when not attached.
  void Close();
  // As Close, but swallows every failure and always ends detached; used when
  // the connection was lost and on destruction.
  void ForceClose();

  // For the layer's other classes: the attachment handle (0 when closed).
  unsigned int* Handle() { return &handle_; }

  // Transactions that span this database (kept by TIBTransaction::AddDatabase).
  const std::vector<TIBTransaction*>& Transactions() const { return transactions_; }
  void AddTransaction(TIBTransaction* transaction);
  void RemoveTransaction(TIBTransaction* transaction);

  // Statements told before this database detaches.
  void AddDependent(IIBDependent* dependent);
  void RemoveDependent(IIBDependent* dependent);

  // For client calls made for this database: a result above 0 raises the
  // composed error of the calling thread's status vector; when that status
  // says the connection was lost (335544741) the database is closed by force
  // first. CheckStatus returns normally for results of 0 or below.
  void CheckStatus(std::intptr_t result);
  [[noreturn]] void RaiseStatusError();
  // The same for an error captured before clean-up calls that would reuse
  // the thread's status vector.
  [[noreturn]] void RaiseStatusError(const fbdetail::StatusError& error);

 private:
  void DoClose(bool forced);
  void CheckNotConnected() const;

  std::string databaseName_;
  std::vector<std::string> params_;
  std::vector<std::uint8_t> dpb_;
  bool dpbStale_ = true;
  bool loginPrompt_ = true;
  TIBTransaction* defaultTransaction_ = nullptr;
  int sqlDialect_ = 3;
  int dbSqlDialect_ = 3;
  unsigned int handle_ = 0;
  bool closing_ = false;
  std::vector<TIBTransaction*> transactions_;
  std::vector<IIBDependent*> dependents_;
};
