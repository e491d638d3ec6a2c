#include "fbaccess/TIBValidationService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBValidationService::BuildStartRequest() const {
  return fbdetail::BuildRepairRequest(databaseName_, options_);
}
