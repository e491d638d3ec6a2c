#include "fbaccess/TIBRestoreService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBRestoreService::BuildStartRequest() const {
  return fbdetail::BuildRestoreRequest(databaseName_, backupFile_, options_, Verbose(), pageSize_,
                                       pageBuffers_, skipData_);
}
