#include "cli/TCliRun.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "cli/TExitStatus.h"
#include "cli/TJsonSummary.h"
#include "cli/TSignalWatcher.h"
#include "engine/firebird/TCredentialSource.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TRunInputs.h"
#include "engine/run/TThreadRecovery.h"
#include "fbaccess/ClientLibrary.h"

namespace {

TConsoleHost::Settings HostSettings(const TCliOptions& options) {
  TConsoleHost::Settings settings;
  settings.verbose = options.Verbose();
  settings.answers = TAnswerBook(options.Answers(), options.AnswerForAll());
  settings.backupOnDemand = options.BackupOnDemand();
  return settings;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

TCliRun::TCliRun(const TCliOptions& options)
    : options_(options), host_(console_, HostSettings(options)) {}

std::string TCliRun::InputProblem() const {
  const std::string problem = TRunInputs::Problem(options_.Database());
  if (!problem.empty()) {
    return problem + "\r" + options_.Database();
  }
  // The window picks files that exist; a typed path may not.
  if (!options_.OlderBackup().empty() && !IsRegularFile(options_.OlderBackup())) {
    return "O backup informado não existe: " + options_.OlderBackup();
  }
  if (!options_.BackupOnDemand().empty() && !IsRegularFile(options_.BackupOnDemand())) {
    return "O backup de --backup-on-demand não existe: " + options_.BackupOnDemand();
  }
  return {};
}

void TCliRun::CancelRequested() {
  host_.NotifyCancelled();
  std::lock_guard<std::mutex> lock(runMutex_);
  if (run_ != nullptr) {
    run_->Cancel();
  }
  console_.Error(
      "Cancelando: a execução para no próximo ponto seguro e desfaz o que estiver "
      "pela metade.");
}

int TCliRun::Execute() {
  if (const std::string problem = InputProblem(); !problem.empty()) {
    console_.Error(std::string(TCliOptions::kProgram) + ": " + problem);
    return TExitStatus::kUsage;
  }
  std::unique_ptr<TJsonSummary> summary;
  TCredentials credentials;
  try {
    credentials = TCredentialSource::Resolve(options_.User(), options_.PasswordFile());
    // Last of the checks: nothing may stop the program after the file exists.
    if (!options_.JsonFile().empty()) {
      summary = std::make_unique<TJsonSummary>(options_.JsonFile());
    }
  } catch (const std::exception& error) {
    console_.Error(std::string(TCliOptions::kProgram) + ": " + error.what());
    return TExitStatus::kUsage;
  }

  // A closed pipe on the output must not kill the program in the middle of
  // a run: the write fails and the run goes on to its end.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
  // Ctrl+C cancels the run, which then stops or waits for the server's work:
  // the client library must not drop the connections under it.
  try {
    ClientLibrary::KeepConnectionsOnSignal();
  } catch (const std::exception&) {
    // No client library: the run reports that itself.
  }
  const TSignalWatcher watcher(
      [this] { CancelRequested(); },
      [this] { console_.Error("Cancelamento já em andamento; aguarde a limpeza."); });

  const std::string database = TRunInputs::ResolvedDatabasePath(options_.Database());
  TJsonSummary::Contents contents;
  contents.database = database;
  contents.olderBackup = options_.OlderBackup();
  if (options_.Verbose()) {
    console_.Line("Conectando como \"" + credentials.User() + "\" (" + credentials.Source() + ")");
  }

  if (!options_.OlderBackup().empty() || StartWithoutBackup(contents)) {
    Run(database, credentials, contents);
  }
  contents.exitStatus = TExitStatus::For(contents.verdict);
  if (summary) {
    try {
      summary->Write(contents);
    } catch (const std::exception& error) {
      console_.Error(std::string(TCliOptions::kProgram) + ": " + error.what());
    }
  }
  return contents.exitStatus;
}

bool TCliRun::StartWithoutBackup(TJsonSummary::Contents& contents) {
  try {
    if (host_.AskUser(TRunInputs::MissingBackupQuestion()) == MessageAnswer::Yes) {
      return true;
    }
    contents.verdict = RunVerdict::Cancelled;
    contents.closingMessage = "Nenhum backup antigo informado: a execução não começou.";
  } catch (const ERunAborted& abort) {
    const bool unanswered = abort.Reason() == AbortReason::Unanswered;
    contents.verdict = unanswered ? RunVerdict::Unanswered : RunVerdict::Cancelled;
    contents.closingMessage = unanswered ? abort.Detail() : "A execução foi cancelada.";
  }
  console_.Line("\r" + contents.closingMessage + "\rNada foi alterado.");
  return false;
}

void TCliRun::Run(const std::string& database, const TCredentials& credentials,
                  TJsonSummary::Contents& contents) {
  std::unique_ptr<TThreadRecovery> run;
  try {
    std::lock_guard<std::mutex> lock(runMutex_);
    run = std::make_unique<TThreadRecovery>(host_, database, options_.OlderBackup(),
                                            &TFirebirdSteps::Create, credentials);
    run_ = run.get();
    if (host_.Cancelled()) {
      run->Cancel();
    }
  } catch (const std::exception& error) {
    // The step routines could not be made (no client library, say): no
    // run started.
    contents.verdict = RunVerdict::NotValidated;
    contents.closingMessage = std::string("A execução não pôde começar.\r") + error.what();
    console_.Line("\r" + contents.closingMessage);
    return;
  }
  contents.started = true;
  while (!run->WaitFor(std::chrono::milliseconds(500))) {
  }
  {
    std::lock_guard<std::mutex> lock(runMutex_);
    run_ = nullptr;
  }
  contents.verdict = run->Verdict();
  contents.closingMessage = run->ClosingText();
  contents.filesMade = run->FilesMade();
  contents.losses = run->Losses();
  contents.report = run->ReportPath();
  if (const std::shared_ptr<const TRunRecord> record = run->Record()) {
    contents.steps = record->Steps();
  }
  if (!contents.report.empty() && std::find(contents.filesMade.begin(), contents.filesMade.end(),
                                            contents.report) == contents.filesMade.end()) {
    contents.filesMade.push_back(contents.report);
  }
  if (!host_.ClosingShown()) {
    // The run ended without handing over its closing message (this
    // program's own output failed): the text still comes last.
    console_.Line("\r" + (contents.closingMessage.empty()
                              ? std::string("A execução terminou sem mensagem final.")
                              : contents.closingMessage));
  }
}
