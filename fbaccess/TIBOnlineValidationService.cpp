#include "fbaccess/TIBOnlineValidationService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBOnlineValidationService::BuildStartRequest() const {
  return fbdetail::BuildOnlineValidationRequest(databaseName_);
}
