#pragma once

#include "engine/firebird/TConnection.h"
#include "pages/TSchema.h"

// The user tables of a database the server opens, as the page reader knows
// tables: relation ids, columns with their field ids, every record format
// and primary keys, read from its system tables through the server. Given
// to the page reader where the damaged file's own system tables lost the
// columns (the older backup restored without rows is such a database).
class TServerSchema {
 public:
  // Reads over `connection`'s attachment and transaction.
  static TSchema Read(TConnection& connection);
};
