#include "cli/TCliInspection.h"

#include <signal.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "cli/TExitStatus.h"
#include "cli/TJsonSummary.h"
#include "pages/TInspection.h"

TCliInspection::TCliInspection(const TCliOptions& options) : options_(options) {}

std::string TCliInspection::InputProblem() const {
  const std::string& path = options_.Database();
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    return "o arquivo não existe: " + path;
  }
  // Opening a fifo or a device to read it would hang or read forever.
  if (!std::filesystem::is_regular_file(status)) {
    return "não é um arquivo comum: " + path;
  }
  return {};
}

int TCliInspection::Execute() {
  const std::string program = std::string(TCliOptions::kProgram) + ": ";
  if (const std::string problem = InputProblem(); !problem.empty()) {
    console_.Error(program + problem);
    return TExitStatus::kUsage;
  }
  std::unique_ptr<TJsonSummary> json;
  if (!options_.JsonFile().empty()) {
    try {
      json = std::make_unique<TJsonSummary>(options_.JsonFile());
    } catch (const std::exception& error) {
      console_.Error(program + error.what());
      return TExitStatus::kUsage;
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);

  // A large file takes seconds: say what is going on meanwhile.
  console_.Status("Examinando " + options_.Database() + " ...");
  TInspectionResult result;
  try {
    result = TInspection::Run(options_.Database());
  } catch (const std::exception& error) {
    result.path = options_.Database();
    result.error = error.what();
    result.verdict = {"Não foi possível examinar o arquivo: " + result.error};
  }
  console_.Status("");

  int status = TExitStatus::kRepairedOrNoErrors;
  if (result.opened) {
    for (const std::string& line : result.ToText()) {
      console_.Line(line);
    }
  } else {
    console_.Error(program + (result.verdict.empty() ? result.error : result.verdict.front()));
    status = TExitStatus::kUsage;
  }
  if (json) {
    try {
      json->WriteText(result.ToJson() + "\n");
    } catch (const std::exception& error) {
      console_.Error(program + "não foi possível gravar o exame em " + json->Path() + ": " +
                     error.what());
      status = TExitStatus::kUsage;
    }
  }
  return status;
}
