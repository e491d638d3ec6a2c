#include "fbaccess/TIBConfigService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBConfigService::BuildStartRequest() const {
  return fbdetail::BuildOnlineRequest(databaseName_);
}
