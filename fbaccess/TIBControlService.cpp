#include "fbaccess/TIBControlService.h"

#include <ibase.h>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ClientApi.h"

void TIBControlService::ServiceStart() {
  CheckActive();
  const std::string request = BuildStartRequest();
  if (request.empty()) {
    throw EIBClientError(94, "Paramêtros iniciais não encontrados ou incorretos");
  }
  ActionStarting(static_cast<unsigned char>(request[0]));
  ISC_STATUS* status = fbdetail::StatusVector();
  if (fbdetail::Api().isc_service_start(status, &Handle(), nullptr,
                                        static_cast<unsigned short>(request.size()),
                                        request.data()) != 0) {
    // The text is taken before the detach, which may overwrite what the
    // status vector points to.
    const fbdetail::StatusError error = fbdetail::CaptureStatusError(status);
    DropAttachment();
    fbdetail::RaiseStatusError(error);
  }
}
