#include "fbaccess/TIBConfigService.h"

#include "fbaccess/detail/ServiceBuffers.h"

std::string TIBConfigService::BuildStartRequest() const {
  return shutDown_ ? fbdetail::BuildShutdownRequest(databaseName_)
                   : fbdetail::BuildOnlineRequest(databaseName_);
}
