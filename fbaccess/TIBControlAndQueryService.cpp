#include "fbaccess/TIBControlAndQueryService.h"

#include <ibase.h>

#include <algorithm>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/ServiceBuffers.h"

namespace {

std::exception_ptr CapturedFailure(const fbdetail::StatusError& error) {
  try {
    fbdetail::RaiseStatusError(error);
  } catch (...) {
    return std::current_exception();
  }
}

}  // namespace

void TIBControlAndQueryService::SetBufferSize(int size) {
  bufferSize_ = std::clamp(size, 4, 0xFFFF);
  if (!buffer_.empty()) {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
  }
}

void TIBControlAndQueryService::ActionStarting(int action) {
  action_ = action;
  atEnd_ = false;
  failure_ = nullptr;
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
  for (;;) {
    // Marked empty, so that a failed call that brought nothing is not read
    // as the previous line again.
    buffer_[0] = static_cast<char>(isc_info_end);
    ISC_STATUS* status = fbdetail::StatusVector();
    const bool failed = fbdetail::Api().isc_service_query(
                            status, &Handle(), nullptr, 0, nullptr, sizeof request, request,
                            static_cast<unsigned short>(buffer_.size()), buffer_.data()) != 0;
    const bool failedBefore = static_cast<bool>(failure_);
    if (failed && !failedBefore) {
      // The server reports an action's failure on the query that is waiting
      // when the action ends, and hands out the lines still queued on the
      // next ones: the failure is kept and raised once they are read. The
      // text is taken now, as later calls reuse the status vector.
      failure_ = CapturedFailure(fbdetail::CaptureStatusError(status));
    }
    std::string line;
    switch (fbdetail::ParseOutputLine(buffer_.data(), buffer_.size(), line)) {
      case fbdetail::OutputAnswer::Line:
        return line;
      case fbdetail::OutputAnswer::End:
        atEnd_ = true;
        if (failure_) {
          RaiseFailure();
        }
        return std::string();
      case fbdetail::OutputAnswer::Malformed:
        break;
    }
    if (!failed) {
      throw EIBClientError(95, "Emissão inesterada de valor no buffer");
    }
    if (failedBefore) {
      // Nothing came since the failure: the attachment itself is gone.
      RaiseFailure();
    }
  }
}

void TIBControlAndQueryService::RaiseFailure() {
  const std::exception_ptr failure = failure_;
  failure_ = nullptr;
  DropAttachment();
  std::rethrow_exception(failure);
}
