#include "engine/TConnection.h"

TConnection::TConnection() {
  database_.SetDefaultTransaction(&transaction_);
  transaction_.SetDefaultDatabase(&database_);
  query_.SetDatabase(&database_);
  database_.ClearParams();
  database_.AddParam("user_name=sysdba");
  database_.AddParam("password=lumenrock");
  database_.SetLoginPrompt(false);
}

void TConnection::SetDatabasePath(const std::string& path) {
  database_.SetDatabaseName("localhost:" + path);
}
