#pragma once

#include <string>

#include "fbaccess/TIBControlAndQueryService.h"
#include "fbaccess/TServiceOptions.h"

// The repair action: validation and mend of one database.
class TIBValidationService : public TIBControlAndQueryService {
 public:
  // The server's own path of the database (no "host:").
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& databaseName) { databaseName_ = databaseName; }
  const TValidateOptions& Options() const { return options_; }
  void SetOptions(const TValidateOptions& options) { options_ = options; }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::string databaseName_;
  TValidateOptions options_;
};
