#include "engine/firebird/TConnection.h"

TConnection::TConnection() : TConnection(builtIn_) {
  builtIn_ = TCredentials::BuiltIn();
}

TConnection::TConnection(const TCredentials& credentials) : credentials_(credentials) {
  database_.SetDefaultTransaction(&transaction_);
  transaction_.SetDefaultDatabase(&database_);
  query_.SetDatabase(&database_);
  database_.SetLoginPrompt(false);
}

void TConnection::SetDatabasePath(const std::string& path) {
  // The parameters cannot change while attached; they are the same then.
  if (!database_.Connected()) {
    database_.ClearParams();
    database_.AddParam("user_name=" + credentials_.User());
    database_.AddParam("password=" + credentials_.Password());
    if (!credentials_.Role().empty()) {
      database_.AddParam("sql_role_name=" + credentials_.Role());
    }
  }
  path_ = path;
  database_.SetDatabaseName("localhost:" + path);
}
