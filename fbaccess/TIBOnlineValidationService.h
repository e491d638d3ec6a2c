#pragma once

#include <string>

#include "fbaccess/TIBControlAndQueryService.h"

// The online validation: reads every table and index of a database that
// stays open to others, changes nothing, and names each table it found
// damaged in its output ("Relation 129 (PEDIDOS) : 2 ERRORS found").
class TIBOnlineValidationService : public TIBControlAndQueryService {
 public:
  // The server's own path of the database (no "host:").
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& databaseName) { databaseName_ = databaseName; }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::string databaseName_;
};
