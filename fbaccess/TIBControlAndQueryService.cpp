#include "fbaccess/TIBControlAndQueryService.h"

#include <ibase.h>

#include <algorithm>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/ServiceBuffers.h"

void TIBControlAndQueryService::SetBufferSize(int size) {
  bufferSize_ = std::clamp(size, 4, 0xFFFF);
  if (!buffer_.empty()) {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
  }
}

void TIBControlAndQueryService::ActionStarting(int action) {
  action_ = action;
  atEnd_ = false;
}

std::string TIBControlAndQueryService::ReadOutputLine() {
  if (atEnd_) {
    return std::string();
  }
  if (action_ == 0) {
    throw EIBClientError(93, "Paramêtros da Query não encontrados ou incorretos");
  }
  if (buffer_.empty()) {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
  }
  // Only the line item, no time-out: the call waits for the server's next line.
  const char request[] = {static_cast<char>(isc_info_svc_line)};
  ISC_STATUS* status = fbdetail::StatusVector();
  if (fbdetail::Api().isc_service_query(status, &Handle(), nullptr, 0, nullptr, sizeof request,
                                        request, static_cast<unsigned short>(buffer_.size()),
                                        buffer_.data()) != 0) {
    // The text is taken before the detach, which may overwrite what the
    // status vector points to.
    const fbdetail::StatusError error = fbdetail::CaptureStatusError(status);
    DropAttachment();
    fbdetail::RaiseStatusError(error);
  }
  std::string line;
  switch (fbdetail::ParseOutputLine(buffer_.data(), buffer_.size(), line)) {
    case fbdetail::OutputAnswer::Line:
      return line;
    case fbdetail::OutputAnswer::End:
      atEnd_ = true;
      return std::string();
    case fbdetail::OutputAnswer::Malformed:
      break;
  }
  throw EIBClientError(95, "Emissão inesterada de valor no buffer");
}
