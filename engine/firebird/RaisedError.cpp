#include "engine/firebird/RaisedError.h"

#include "engine/firebird/TServerDialect.h"
#include "fbaccess/EIBInterBaseError.h"

StepResult RaisedError(const std::exception& error) {
  const auto* server = dynamic_cast<const EIBInterBaseError*>(&error);
  return StepResult::Raised(
      TServerDialect::ClassifyFailure(server != nullptr ? server->EngineCode() : 0, error.what()),
      error.what());
}
