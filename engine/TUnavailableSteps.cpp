#include "engine/TUnavailableSteps.h"

bool TUnavailableSteps::Unavailable(const char* routine) {
  context_.AskUser(std::string("A rotina ") + routine + "() ainda não está disponível.",
                   MessageKind::Error, MessageButtons::Ok);
  return false;
}

bool TUnavailableSteps::acessoExclusivo() {
  return Unavailable("acessoExclusivo");
}

bool TUnavailableSteps::doCopy(const std::string&, const std::string&) {
  return Unavailable("doCopy");
}

bool TUnavailableSteps::doValidate(const std::string&) {
  return Unavailable("doValidate");
}

bool TUnavailableSteps::doMend() {
  return Unavailable("doMend");
}

bool TUnavailableSteps::doBackup(const std::string&, const std::string&, int) {
  return Unavailable("doBackup");
}

bool TUnavailableSteps::doRestore(const std::string&, const std::string&, int) {
  return Unavailable("doRestore");
}

bool TUnavailableSteps::bringOnline(const std::string&) {
  return Unavailable("bringOnline");
}

std::unique_ptr<TInconsistency> TUnavailableSteps::checkInconsistencies(const std::string&,
                                                                        const std::string&) {
  Unavailable("checkInconsistencies");
  return nullptr;
}

bool TUnavailableSteps::doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>&) {
  return Unavailable("doCopyDataFromOldBackup");
}
