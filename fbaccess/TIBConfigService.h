#pragma once

#include <string>

#include "fbaccess/TIBControlService.h"

// Database properties through the service manager. The one property offered:
// bringing a database that is shut down (for example after a restore whose
// indices could not be activated) back online.
class TIBConfigService : public TIBControlService {
 public:
  // The server's own path of the database (no "host:").
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& databaseName) { databaseName_ = databaseName; }

  // Brings DatabaseName online; the same as ServiceStart. It produces no
  // output. A database that is already online makes the server fail the start
  // ("Target shutdown mode is invalid for database ...").
  void BringDatabaseOnline() { ServiceStart(); }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::string databaseName_;
};
