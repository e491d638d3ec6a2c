#include "fbaccess/TIBBackupService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBBackupService::BuildStartRequest() const {
  return fbdetail::BuildBackupRequest(databaseName_, backupFile_, options_, Verbose(),
                                      blockingFactor_, skipData_);
}
