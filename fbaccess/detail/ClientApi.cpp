#include "fbaccess/detail/ClientApi.h"

#include <cstring>
#include <vector>

#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/EIBInterBaseRoleError.h"

namespace fbdetail {

namespace {

// Size of the buffer that receives one interpreted line of a status vector.
constexpr std::size_t kInterpretBufferSize = 20480;
constexpr long kSqlCodeNoPermission = -551;

}  // namespace

ISC_STATUS* StatusVector() {
  thread_local ISC_STATUS_ARRAY status = {};
  return status;
}

bool StatusHasCode(const ISC_STATUS* status, ISC_STATUS code) {
  // Walk the clusters: every argument is a type followed by one value, except
  // isc_arg_cstring, which carries a length and a pointer.
  std::size_t i = 0;
  while (i + 1 < ISC_STATUS_LENGTH && status[i] != isc_arg_end) {
    const ISC_STATUS type = status[i];
    if ((type == isc_arg_gds || type == isc_arg_warning) && status[i + 1] == code) {
      return true;
    }
    i += (type == isc_arg_cstring) ? 3 : 2;
  }
  return false;
}

std::string ComposeStatusMessage(const ISC_STATUS* status) {
  const ClientApi& api = Api();
  const ClientLibrary::ErrorMessageFlags flags = ClientLibrary::ErrorMessages();
  std::string message;
  if (flags.sqlCode) {
    message = "SQLCODE: " + std::to_string(api.isc_sqlcode(status));
  }
  if (flags.engineMessage) {
    if (flags.sqlCode) {
      message += "\r\n";
    }
    std::vector<char> buffer(kInterpretBufferSize);
    // isc_interprete moves the cursor along the vector; it wants a mutable one.
    ISC_STATUS* cursor = const_cast<ISC_STATUS*>(status);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    while (true) {
      buffer[0] = '\0';
      if (api.isc_interprete(buffer.data(), &cursor) <= 0) {
        break;
      }
      if (!message.empty() && message.back() != '\n') {
        message += "\r\n";
      }
      message.append(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }
#pragma GCC diagnostic pop
  }
  if (!message.empty() && message.back() == '.') {
    message.pop_back();
  }
  return message;
}

StatusError CaptureStatusError(const ISC_STATUS* status) {
  StatusError error;
  error.sqlCode = Api().isc_sqlcode(status);
  error.engineCode = status[1];
  error.message = ComposeStatusMessage(status);
  error.connectionLost = StatusHasCode(status, kConnectionLost);
  return error;
}

void RaiseStatusError(const StatusError& error) {
  if (error.sqlCode == kSqlCodeNoPermission) {
    throw EIBInterBaseRoleError(static_cast<std::int32_t>(error.sqlCode), error.engineCode,
                                error.message);
  }
  throw EIBInterBaseError(static_cast<std::int32_t>(error.sqlCode), error.engineCode,
                          error.message);
}

void RaiseStatusError(const ISC_STATUS* status) {
  RaiseStatusError(CaptureStatusError(status));
}

void RaiseClientError(int index, const std::string& message) {
  throw EIBClientError(index, message);
}

}  // namespace fbdetail
