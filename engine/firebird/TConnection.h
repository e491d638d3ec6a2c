#pragma once

#include <string>

#include "engine/firebird/TCredentials.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"

// One database connection of the engine: a database, its own transaction and
// a query, wired to each other and logging in without a prompt with the
// credentials it was given. No database is named until SetDatabasePath.
class TConnection {
 public:
  // Logs in with the built-in development account.
  TConnection();
  // Logs in with `credentials`, read at every SetDatabasePath, so a change of
  // the object (the operator typed another password) holds from then on. The
  // object must outlive the connection.
  explicit TConnection(const TCredentials& credentials);
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  TIBDatabase& Database() { return database_; }
  TIBTransaction& Transaction() { return transaction_; }
  TIBQuery& Query() { return query_; }

  // Names the database file; it is always reached through the local server
  // ("localhost:" + path), never opened embedded in this process.
  void SetDatabasePath(const std::string& path);
  const std::string& DatabasePath() const { return path_; }

 private:
  std::string path_;
  TCredentials builtIn_;
  const TCredentials& credentials_;
  // Declared in this order so the query goes first and the database last.
  TIBDatabase database_;
  TIBTransaction transaction_;
  TIBQuery query_;
};
