#pragma once

#include <string>

#include "fbaccess/TIBControlService.h"

// Database properties through the service manager: bringing a database that
// is shut down (for example after a restore whose indices could not be
// activated) back online, and shutting one down to a single attachment.
class TIBConfigService : public TIBControlService {
 public:
  // The server's own path of the database (no "host:").
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& databaseName) { databaseName_ = databaseName; }

  // Brings DatabaseName online; the same as ServiceStart. It produces no
  // output. A database that is already online makes the server fail the start
  // ("Target shutdown mode is invalid for database ...").
  void BringDatabaseOnline() {
    shutDown_ = false;
    ServiceStart();
  }
  // Shuts DatabaseName down in single-user mode at once: from then on one
  // attachment at a time, of SYSDBA or the owner, is let in. The server
  // refuses it while anyone else is attached.
  void ShutDownSingleUser() {
    shutDown_ = true;
    ServiceStart();
  }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::string databaseName_;
  bool shutDown_ = false;
};
